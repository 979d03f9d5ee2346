#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/RecordingEventLog.h"
#include "vpn/Common/Logging/DiagnosticLog.h"

namespace
{
constexpr char kFn[] = "CTest::run";
constexpr char kSrc[] = "TestSource";

// The single entry a recording holds.
std::string OnlyText(const RecordingEventLog& log)
{
    EXPECT_EQ(1u, log.entries().size());
    return log.entries().empty() ? std::string() : log.entries().front().text;
}
} // namespace

TEST(LogDebugMessageText, WithoutFormatEndsAfterTheLineNumber)
{
    RecordingEventLog log;
    LogDebugMessage(kFn, kSrc, 42, 'I', nullptr);
    EXPECT_EQ("Function: CTest::run\nFile: TestSource\nLine: 42\n", OnlyText(log));
}

TEST(LogDebugMessageText, FormatsTheCallerText)
{
    RecordingEventLog log;
    LogDebugMessage(kFn, kSrc, 7, 'W', "ignoring undefined abbreviation %s", "FM");
    EXPECT_EQ("Function: CTest::run\nFile: TestSource\nLine: 7\nignoring undefined abbreviation FM",
              OnlyText(log));
}

TEST(LogDebugMessageText, CallerTextIsCutAt1023Characters)
{
    RecordingEventLog log;
    const std::string longText(1500, 'x');
    LogDebugMessage(kFn, kSrc, 1, 'I', "%s", longText.c_str());
    EXPECT_EQ(DebugEntry(kFn, kSrc, 1, std::string(1023, 'x')), OnlyText(log));
}

TEST(LogReturnCodeText, OwnCodeShowsSignedDecimalHexAndName)
{
    RecordingEventLog log;
    LogReturnCode(kFn, kSrc, 10, 'E', "PWCSaxWriter::writeDocument", 0xFE000009, nullptr, nullptr);
    EXPECT_EQ(
        "Function: CTest::run\nFile: TestSource\nLine: 10\nInvoked Function: PWCSaxWriter::writeDocument\n"
        "Return Code: -33554423 (0xFE000009)\nDescription: GLOBAL_ERROR_UNEXPECTED\n",
        OnlyText(log));
}

TEST(LogReturnCodeText, CodeZeroWithFormatMovesTheTextToTheDescription)
{
    RecordingEventLog log;
    LogReturnCode(kFn, kSrc, 3, 'W', "::Thing", 0, nullptr, "value %d", 5);
    EXPECT_EQ(ReturnCodeEntry(kFn, kSrc, 3, "::Thing", 0, "value 5", ""), OnlyText(log));
}

TEST(LogReturnCodeText, CodeZeroWithoutFormatIsUnknown)
{
    RecordingEventLog log;
    LogReturnCode(kFn, kSrc, 3, 'W', "::Thing", 0, nullptr, nullptr);
    EXPECT_EQ(ReturnCodeEntry(kFn, kSrc, 3, "::Thing", 0, "unknown", ""), OnlyText(log));
}

TEST(LogReturnCodeText, GivenDescriptionReplacesTheCodesAndTheTextStillFollows)
{
    RecordingEventLog log;
    LogReturnCode(kFn, kSrc, 4, 'E', "std::ofstream::open", 13, "Permission denied", "extra %s", "text");
    EXPECT_EQ(ReturnCodeEntry(kFn, kSrc, 4, "std::ofstream::open", 13, "Permission denied", "extra text"),
              OnlyText(log));
}

TEST(LogReturnCodeText, CodeWithoutDescriptionIsUnknown)
{
    RecordingEventLog log;
    LogReturnCode(kFn, kSrc, 5, 'E', "::Thing", 0xFEA70001, nullptr, nullptr); // empty slot 167
    EXPECT_EQ(ReturnCodeEntry(kFn, kSrc, 5, "::Thing", 0xFEA70001, "unknown", ""), OnlyText(log));
}

TEST(LogReturnCodeText, EntryTextIsCutAt2047Characters)
{
    RecordingEventLog log;
    const std::string description(1900, 'd');
    const std::string text(1000, 't');
    LogReturnCode(kFn, kSrc, 6, 'E', "::Thing", 5, description.c_str(), "%s", text.c_str());
    const std::string full = ReturnCodeEntry(kFn, kSrc, 6, "::Thing", 5, description, text);
    EXPECT_EQ(full.substr(0, 2047), OnlyText(log));
}

TEST(LogReturnCodeText, WininetCodeIsLoggedReducedToItsLow16Bits)
{
    RecordingEventLog log;
    LogReturnCode(kFn, kSrc, 8, 'E', "::Thing", 0x80FD2EE2, nullptr, nullptr); // 12002 in the wininet range
    const ParsedEntry entry = ParseEntry(OnlyText(log));
    EXPECT_EQ(12002, entry.code);
    EXPECT_EQ("00002EE2", entry.hexCode);
    EXPECT_NE("unknown", entry.description);
}

TEST(DiagnosticLogLifetime, EntriesBeforeTheFirstOpenAndAfterTheLastCloseAreDropped)
{
    RecordingEventLog log(/*openLog*/ false);
    LogDebugMessage(kFn, kSrc, 1, 'I', "before");
    ASSERT_EQ(GLOBAL_SUCCESS, OpenDiagnosticLog());
    LogDebugMessage(kFn, kSrc, 2, 'I', "during");
    CloseDiagnosticLog();
    LogDebugMessage(kFn, kSrc, 3, 'I', "after");
    CloseDiagnosticLog(); // nothing open: does nothing
    ASSERT_EQ(1u, log.entries().size());
    EXPECT_EQ("during", ParseEntry(log.entries()[0].text).text);
}

TEST(DiagnosticLogLifetime, TwoOpensAndOneCloseKeepTheSink)
{
    RecordingEventLog log(false);
    ASSERT_EQ(GLOBAL_SUCCESS, OpenDiagnosticLog());
    ASSERT_EQ(GLOBAL_SUCCESS, OpenDiagnosticLog());
    CloseDiagnosticLog();
    LogDebugMessage(kFn, kSrc, 1, 'I', "still open");
    CloseDiagnosticLog();
    LogDebugMessage(kFn, kSrc, 2, 'I', "closed");
    ASSERT_EQ(1u, log.entries().size());
    EXPECT_EQ("still open", ParseEntry(log.entries()[0].text).text);
}

TEST(DiagnosticLogLifetime, FailedMessageModuleLoadStillCountsAsAnOpen)
{
    RecordingEventLog log(false);
    int loads = 0;
    pw::Api().LoadLibraryExW = [&](LPCWSTR, HANDLE, DWORD) -> HMODULE
    {
        ++loads;
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    };
    EXPECT_EQ(GLOBAL_ERROR_NOT_INITIALIZED, OpenDiagnosticLog());
    EXPECT_EQ(1, loads) << "winhttp is not tried after wininet failed";
    // A second open finds the sink and does not retry the loads.
    EXPECT_EQ(GLOBAL_SUCCESS, OpenDiagnosticLog());
    EXPECT_EQ(1, loads);
    CloseDiagnosticLog();
    LogReturnCode(kFn, kSrc, 1, 'E', "::Thing", 0x80FD2EE2, nullptr, nullptr);
    CloseDiagnosticLog();
    LogDebugMessage(kFn, kSrc, 2, 'I', "closed");
    ASSERT_EQ(1u, log.entries().size());
    EXPECT_EQ("WINDOWS_ERROR_CODE", ParseEntry(log.entries()[0].text).description)
        << "a wininet code without its module has no system text";
}

TEST(DiagnosticLogLifetime, ReopeningAfterTheLastCloseStartsAfresh)
{
    RecordingEventLog log(false);
    int registrations = 0;
    pw::Api().RegisterEventSourceA = [&](LPCSTR server, LPCSTR source)
    {
        ++registrations;
        EXPECT_EQ(nullptr, server);
        EXPECT_STREQ("pwhardenor", source);
        return reinterpret_cast<HANDLE>(0x1234);
    };
    pw::Api().DeregisterEventSource = [](HANDLE h) { return h == reinterpret_cast<HANDLE>(0x1234); };
    ASSERT_EQ(GLOBAL_SUCCESS, OpenDiagnosticLog());
    CloseDiagnosticLog();
    ASSERT_EQ(GLOBAL_SUCCESS, OpenDiagnosticLog());
    LogDebugMessage(kFn, kSrc, 1, 'I', "again");
    CloseDiagnosticLog();
    EXPECT_EQ(2, registrations);
    EXPECT_EQ(1u, log.entries().size());
}

TEST(FormatBoundedTruncation, KeepsSizeMinusOneCharactersAndATerminator)
{
    char buffer[8];
    std::memset(buffer, 'z', sizeof(buffer));
    auto format = [&](const char* fmt, ...)
    {
        va_list args;
        va_start(args, fmt);
        const int count = FormatBounded(buffer, sizeof(buffer), fmt, args);
        va_end(args);
        return count;
    };
    EXPECT_EQ(8, format("%s", "0123456789")) << "a text that does not fit reports the buffer size";
    EXPECT_STREQ("0123456", buffer);
    EXPECT_EQ(3, format("%d", 123));
    EXPECT_STREQ("123", buffer);
}

class DescribeResultCodeTest : public ::testing::Test
{
protected:
    // The description of code, and the code as it would be logged.
    std::string Describe(ResultCode& code)
    {
        const char* text = DescribeResultCode(code, m_buffer, sizeof(m_buffer));
        return text == nullptr ? "<none>" : text;
    }
    std::string Describe(ResultCode&& code) { return Describe(code); }

    RecordingEventLog m_log; // keeps the log open: the catalogue and message modules are registered
    char m_buffer[2048] = {};
};

TEST_F(DescribeResultCodeTest, OwnCodesAreNamedByTheirModulesRows)
{
    EXPECT_EQ("GLOBAL_ERROR_NOT_INITIALIZED", Describe(0xFE000007));
    EXPECT_EQ("SERVICES_ERROR_START_SERVICE_FAILED", Describe(0xFE17000E));
    EXPECT_EQ("CSTORAGEPATH_ERROR_NO_INSTANCE", Describe(0xFE88000A));
    EXPECT_EQ("XMLLOCALPWPOLMGR_ERROR_NO_INSTANCE", Describe(0xFEA2000A));
    EXPECT_EQ("DUMMY_ERROR_NOT_IMPLEMENTED", Describe(0xFE890000));
    EXPECT_EQ("THREADLOCALSTORAGE_ERROR_NO_DATA_SET:Attempted to get data from TLS slot before data was set",
              Describe(0xFE9A000B));
}

TEST_F(DescribeResultCodeTest, IndexBeyondTheModulesRowsGivesItsUnknownRow)
{
    EXPECT_EQ("SERVICES_ERROR_UNKNOWN", Describe(0xFE170013));
    EXPECT_EQ("GLOBAL_ERROR_UNKNOWN", Describe(0xFE00FFFF));
    EXPECT_EQ("DUMMY_ERROR_NOT_IMPLEMENTED", Describe(0xFE890005)) << "the one row is also the last";
}

TEST_F(DescribeResultCodeTest, EmptySlotAndModuleBeyondTheTableGiveNoDescription)
{
    EXPECT_EQ("<none>", Describe(0xFEA70000)); // slot 167
    EXPECT_EQ("<none>", Describe(0xFEC80001)); // module 200
}

TEST_F(DescribeResultCodeTest, TopByteFFIsAnOwnCode)
{
    EXPECT_EQ("GLOBAL_SUCCESS", Describe(0xFF000000));
}

TEST_F(DescribeResultCodeTest, SystemCodeKeepsTheTablesTextWithItsLineBreak)
{
    ResultCode code = ERROR_ACCESS_DENIED;
    const std::string text = Describe(code);
    EXPECT_EQ(static_cast<ResultCode>(ERROR_ACCESS_DENIED), code);
    ASSERT_GT(text.size(), 2u);
    EXPECT_EQ("\r\n", text.substr(text.size() - 2));
}

TEST_F(DescribeResultCodeTest, WininetAndWinhttpCodesAreReducedToTheirLow16Bits)
{
    ResultCode wininet = 0x80FD2EE2; // bits 23..16 = 0xFD
    const std::string wininetText = Describe(wininet);
    EXPECT_EQ(12002u, wininet);
    EXPECT_EQ("\r\n", wininetText.substr(wininetText.size() - 2)) << wininetText;

    ResultCode winhttp = 0x80FE2EE2; // bits 23..16 = 0xFE
    Describe(winhttp);
    EXPECT_EQ(12002u, winhttp);
}

TEST_F(DescribeResultCodeTest, CodeWithoutSystemTextIsAWindowsErrorCode)
{
    ResultCode code = 0x800C0005; // no text in any table
    EXPECT_EQ("WINDOWS_ERROR_CODE", Describe(code));
    EXPECT_EQ(0x800C0005u, code);
}
