#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "support/RecordingEventLog.h"
#include "support/TempDirectory.h"
#include "vpn/Common/Utility/sysutils.h"

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
    pw::Api().wstat = [](const wchar_t*, struct _stat*)
    {
        errno = EACCES;
        return -1;
    };
    EXPECT_FALSE(fileExists(L"C:\\locked.xml"));

    const auto entries = ParsedEntries(log);
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, log.entries()[0].type);
    EXPECT_EQ("fileExists", entries[0].function);
    EXPECT_EQ("sysutils", entries[0].file);
    EXPECT_EQ("_tstat", entries[0].invoked);
    EXPECT_EQ(EACCES, entries[0].code);
    // The text holds a line break, so it is compared at the end of the whole entry.
    const std::string expected = std::string("\nFile: C:\\locked.xml\nError: ") + std::strerror(EACCES);
    const std::string& whole = log.entries()[0].text;
    ASSERT_GE(whole.size(), expected.size());
    EXPECT_EQ(expected, whole.substr(whole.size() - expected.size()));
}
