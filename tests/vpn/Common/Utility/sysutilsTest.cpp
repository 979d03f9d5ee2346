#include "vpn/Common/Utility/sysutils.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "support/ApiOverride.h"
#include "support/LoggedEntry.h"
#include "support/RecordingEventLog.h"
#include "support/TempDirectory.h"

TEST(FileExists, OnlyARegularFileCountsAndNothingIsLogged)
{
    RecordingEventLog log;
    TempDirectory dir;
    WriteFileBytes(dir.join(L"present.txt"), "x");

    EXPECT_TRUE(fileExists(dir.join(L"present.txt")));
    EXPECT_FALSE(fileExists(dir.path()));
    EXPECT_FALSE(fileExists(dir.join(L"missing.txt")));
    EXPECT_FALSE(fileExists(dir.join(L"missing\\deeper.txt")));
    EXPECT_TRUE(log.entries().empty());
}

TEST(FileExists, OtherStatFailuresAreLoggedWithTheRuntimeText)
{
    RecordingEventLog log;
    const auto refused = OverrideApi(&pw::PlatformApi::wstat,
                                     [](const wchar_t*, struct _stat*)
                                     {
                                         errno = EACCES;
                                         return -1;
                                     });
    EXPECT_FALSE(fileExists(L"C:\\locked.xml"));

    // The text holds line breaks, which the entry's parser cannot tell from the description's, so
    // it is left out here and compared at the end of the whole entry.
    std::vector<LoggedEntry> entries = LoggedEntries(log);
    ASSERT_EQ(1u, entries.size());
    entries[0].text.clear();
    EXPECT_EQ(Failure('E', "fileExists", "sysutils", "_tstat", EACCES), entries[0]);
    const std::string expected = std::string("\nFile: C:\\locked.xml\nError: ") + std::strerror(EACCES);
    const std::string& whole = log.entries()[0].text;
    ASSERT_GE(whole.size(), expected.size());
    EXPECT_EQ(expected, whole.substr(whole.size() - expected.size()));
}
