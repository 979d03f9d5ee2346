#include "vpn/Common/Logging/MessageCatalogue.h"

#include <gtest/gtest.h>

#include <string>

TEST(MessageCatalogueLookup, LogMessagesResolveToTheirRecords)
{
    EXPECT_STREQ("MID_UNKNOWN", FindMessageRecord(0).name);
    EXPECT_EQ(5, FindMessageRecord(0).severity);
    EXPECT_STREQ("%s", FindMessageRecord(0).format);
    EXPECT_STREQ("MID_DEBUG_MESSAGE", FindMessageRecord(1).name);
    EXPECT_EQ(7, FindMessageRecord(1).severity);
    EXPECT_STREQ("MID_DEBUG_RETURN_CODE", FindMessageRecord(2).name);
    EXPECT_EQ(7, FindMessageRecord(2).severity);
}

TEST(MessageCatalogueLookup, IdsOutsideEveryGroupGiveTheFallbackRecord)
{
    for (std::uint32_t id : {3u, 9u, 4294967295u})
    {
        const MessageRecord& record = FindMessageRecord(id);
        EXPECT_STREQ("UNKNOWN", record.name) << id;
        EXPECT_EQ(7, record.severity) << id;
        EXPECT_STREQ("", record.format) << id;
    }
    // The fallback is its own record, not the record of id 0.
    EXPECT_NE(&FindMessageRecord(0), &FindMessageRecord(3));
}
