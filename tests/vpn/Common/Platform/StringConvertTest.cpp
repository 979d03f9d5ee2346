#include "vpn/Common/Platform/StringConvert.h"

#include <gtest/gtest.h>

#include <string>

TEST(ToNarrowConversion, NullPointersAndTooSmallBuffersGiveNull)
{
    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(nullptr, ToNarrow(nullptr, L"a", 8, CP_ACP));
    EXPECT_EQ(nullptr, ToNarrow(buffer, nullptr, 8, CP_ACP));
    EXPECT_EQ(buffer, ToNarrow(buffer, L"abc", sizeof(buffer), CP_ACP));
    EXPECT_STREQ("abc", buffer);
    EXPECT_EQ(nullptr, ToNarrow(buffer, L"0123456789", 4, CP_ACP)) << "a text that does not fit fails";
}

TEST(ToUtf8Conversion, EncodesOneToFourBytesPerCharacter)
{
    EXPECT_EQ("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", ToUtf8(L"a\u00E9\u20AC\U0001F600"));
    EXPECT_EQ("", ToUtf8(L""));
}

TEST(NarrowTextConversion, IsSizedByWhatTheCodePageNeeds)
{
    // Regression: two bytes per UTF-16 unit were reserved, too few where a character takes three
    // (an ANSI code page of UTF-8), and the text was logged as "(null)".
    EXPECT_STREQ("\xE4\xB8\xAD\xE6\x96\x87", CNarrowText(L"\u4E2D\u6587", CP_UTF8).c_str());
    // A text that cannot be converted (here, to a code page that does not exist) is never a null text.
    EXPECT_STREQ("?", CNarrowText(L"a", 12345).c_str());
}
