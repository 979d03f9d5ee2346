#include "vpn/Common/Logging/DiagnosticLog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "support/ApiOverride.h"
#include "support/LoggedEntry.h"
#include "support/RecordingEventLog.h"

namespace
{
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

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

// Regression: a caller's null name went to a "%s", which the C runtime's formatting does not define.
TEST(LogReturnCodeText, NullNamesShowAsNothing)
{
    RecordingEventLog log;
    LogReturnCode(nullptr, nullptr, 10, 'E', nullptr, 0xFE000009, nullptr, nullptr);
    EXPECT_THAT(OnlyText(log), HasSubstr("Function: \nFile: \nLine: 10\nInvoked Function: \nReturn Code: "));
}

TEST(LogReturnCodeText, DescriptionIsTheGivenOneTheTextOfCodeZeroOrUnknown)
{
    const struct
    {
        ResultCode code;
        const char* description;
        const char* text; // the caller's, or none
        std::string shownDescription;
        std::string shownText;
    } cases[] = {
        {0, nullptr, "value 5", "value 5", ""}, // code 0: the text moves to the description
        {0, nullptr, nullptr, "unknown", ""},
        {13, "Permission denied", "extra text", "Permission denied", "extra text"},
        {0xFEA70001, nullptr, nullptr, "unknown", ""}, // empty slot 167
    };
    for (const auto& c : cases)
    {
        RecordingEventLog log;
        LogReturnCode(kFn, kSrc, 3, 'W', "::Thing", c.code, c.description, c.text != nullptr ? "%s" : nullptr,
                      c.text);
        EXPECT_EQ(ReturnCodeEntry(kFn, kSrc, 3, "::Thing", c.code, c.shownDescription, c.shownText),
                  OnlyText(log))
            << c.code;
    }
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
    EXPECT_EQ(std::vector<LoggedEntry>{Failure('E', kFn, kSrc, "::Thing", 12002)}, LoggedEntries(log));
    // The description is the message module's text, which depends on the Windows version.
    EXPECT_THAT(OnlyText(log), HasSubstr("\nReturn Code: 12002 (0x00002EE2)\nDescription: "));
    EXPECT_THAT(OnlyText(log), Not(HasSubstr("\nDescription: unknown\n")));
}

namespace
{
constexpr const char* kFile = kSrc;    // the file name the checking macros log
constexpr const char* kFunction = kFn; // and the function

// A text argument that changes the last error while it is evaluated, as a path converted for the
// entry may: the macros must have taken the failed call's error before.
const char* Clobbering(const char* text)
{
    ::SetLastError(ERROR_SUCCESS);
    return text;
}

// 7 tells that the macro let the function go on.
DWORD ReturnIfFalse(BOOL answer)
{
    PW_RETURN_IF_WIN32_BOOL_FALSE("::Call", answer, "%s", Clobbering("text"));
    return 7;
}
ResultCode ReturnIfFailed(ResultCode code)
{
    PW_RETURN_IF_FAILED_AT('W', "CCall::run", code, "%s", Clobbering("text"));
    return 7;
}
ResultCode ReturnIfFailedLogged(ResultCode code)
{
    PW_RETURN_IF_FAILED_LOGGED(code);
    return 7;
}
} // namespace

TEST(CheckedCalls, AFailureGivesTheErrorOfTheFailedCallLoggedOnce)
{
    RecordingEventLog log;
    ::SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ReturnIfFalse(FALSE));
    ::SetLastError(ERROR_SHARING_VIOLATION);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION),
              PW_LOG_IF_WIN32_BOOL_FALSE_AT('W', "::Call", FALSE, "%s", Clobbering("text")));
    ::SetLastError(ERROR_INVALID_HANDLE);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), PW_LOG_LAST_ERROR("::Open", nullptr));
    EXPECT_EQ(GLOBAL_ERROR_BAD_PARAMETER, ReturnIfFailed(GLOBAL_ERROR_BAD_PARAMETER));
    EXPECT_EQ(GLOBAL_ERROR_BAD_PARAMETER, ReturnIfFailedLogged(GLOBAL_ERROR_BAD_PARAMETER));
    const std::vector<LoggedEntry> expected = {
        Failure('E', kFn, kSrc, "::Call", ERROR_ACCESS_DENIED, "text"),
        Failure('W', kFn, kSrc, "::Call", ERROR_SHARING_VIOLATION, "text"),
        Failure('E', kFn, kSrc, "::Open", ERROR_INVALID_HANDLE),
        Failure('W', kFn, kSrc, "CCall::run", GLOBAL_ERROR_BAD_PARAMETER, "text")};
    EXPECT_EQ(expected, LoggedEntries(log));
}

// Regression: a failed call that set no last error was reported as ERROR_SUCCESS, which its callers
// took for success.
TEST(CheckedCalls, AFailureThatSetNoLastErrorIsNeverSuccess)
{
    RecordingEventLog log;
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GLOBAL_ERROR_UNEXPECTED, ReturnIfFalse(FALSE));
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GLOBAL_ERROR_UNEXPECTED, PW_LOG_LAST_ERROR("::Open", nullptr));
}

TEST(CheckedCalls, ASuccessLogsNothingAndGoesOn)
{
    RecordingEventLog log;
    ::SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(7u, ReturnIfFalse(TRUE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), PW_LOG_IF_WIN32_BOOL_FALSE_AT('W', "::Call", TRUE, nullptr));
    EXPECT_EQ(7u, ReturnIfFailed(GLOBAL_SUCCESS));
    EXPECT_EQ(7u, ReturnIfFailedLogged(GLOBAL_SUCCESS));
    EXPECT_THAT(log.entries(), IsEmpty());
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
    EXPECT_EQ(std::vector<LoggedEntry>{Message('I', kFn, kSrc, "during")}, LoggedEntries(log));
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
    EXPECT_EQ(std::vector<LoggedEntry>{Message('I', kFn, kSrc, "still open")}, LoggedEntries(log));
}

TEST(DiagnosticLogLifetime, FailedMessageModuleLoadStillCountsAsAnOpen)
{
    RecordingEventLog log(false);
    int loads = 0;
    const auto refuse = OverrideApi(&pw::PlatformApi::LoadLibraryExW,
                                    [&](LPCWSTR, HANDLE, DWORD) -> HMODULE
                                    {
                                        ++loads;
                                        SetLastError(ERROR_MOD_NOT_FOUND);
                                        return nullptr;
                                    });
    EXPECT_EQ(GLOBAL_ERROR_NOT_INITIALIZED, OpenDiagnosticLog());
    EXPECT_EQ(1, loads) << "winhttp is not tried after wininet failed";
    // A second open finds the sink and does not retry the loads.
    EXPECT_EQ(GLOBAL_SUCCESS, OpenDiagnosticLog());
    EXPECT_EQ(1, loads);
    CloseDiagnosticLog();
    LogReturnCode(kFn, kSrc, 1, 'E', "::Thing", 0x80FD2EE2, nullptr, nullptr);
    CloseDiagnosticLog();
    LogDebugMessage(kFn, kSrc, 2, 'I', "closed");
    // A wininet code without its module has no system text.
    EXPECT_EQ(ReturnCodeEntry(kFn, kSrc, 1, "::Thing", 12002, "WINDOWS_ERROR_CODE", ""), OnlyText(log));
}

TEST(DiagnosticLogLifetime, ReopeningAfterTheLastCloseStartsAfresh)
{
    RecordingEventLog log(false);
    int registrations = 0;
    const auto registerFake = OverrideApi(&pw::PlatformApi::RegisterEventSourceA,
                                          [&](LPCSTR server, LPCSTR source)
                                          {
                                              ++registrations;
                                              EXPECT_EQ(nullptr, server);
                                              EXPECT_STREQ("pwhardenor", source);
                                              return reinterpret_cast<HANDLE>(0x1234);
                                          });
    int deregistrations = 0;
    const auto deregisterFake = OverrideApi(&pw::PlatformApi::DeregisterEventSource,
                                            [&](HANDLE h)
                                            {
                                                deregistrations +=
                                                    h == reinterpret_cast<HANDLE>(0x1234) ? 1 : 0;
                                                return TRUE;
                                            });
    ASSERT_EQ(GLOBAL_SUCCESS, OpenDiagnosticLog());
    CloseDiagnosticLog();
    ASSERT_EQ(GLOBAL_SUCCESS, OpenDiagnosticLog());
    LogDebugMessage(kFn, kSrc, 1, 'I', "again");
    CloseDiagnosticLog();
    EXPECT_EQ(2, registrations);
    EXPECT_EQ(2, deregistrations) << "each sink gives its source back";
    EXPECT_EQ(1u, log.entries().size());
}

// Another thread writes one entry while this thread is inside an open or a close of the log.
class DiagnosticLogLock : public ::testing::Test
{
protected:
    ~DiagnosticLogLock() override
    {
        if (other.joinable())
        {
            other.join();
        }
    }

    // Starts the other thread and gives its entry time to get through; tells whether it did. Only
    // the first call starts a thread.
    bool otherThreadGotThrough()
    {
        if (other.joinable())
        {
            return otherDone;
        }
        std::promise<void> started;
        std::future<void> running = started.get_future();
        other = std::thread(
            [this, &started]()
            {
                started.set_value();
                LogDebugMessage(kFn, kSrc, 1, 'I', "from another thread");
                otherDone = true;
            });
        running.wait();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return otherDone;
    }

    RecordingEventLog log{false};
    std::thread other;
    std::atomic<bool> otherDone{false};
};

TEST_F(DiagnosticLogLock, AnEntryWaitsUntilTheOpenIsDone)
{
    bool gotThrough = true;
    const auto load = OverrideApi(&pw::PlatformApi::LoadLibraryExW,
                                  [&, real = pw::Api().LoadLibraryExW](LPCWSTR name, HANDLE file, DWORD flags)
                                  {
                                      if (!other.joinable())
                                      {
                                          gotThrough = otherThreadGotThrough();
                                          // The opening thread itself may log: the lock is re-entrant.
                                          LogDebugMessage(kFn, kSrc, 2, 'I', "from the opening thread");
                                      }
                                      return real(name, file, flags);
                                  });

    ASSERT_EQ(GLOBAL_SUCCESS, OpenDiagnosticLog());
    other.join();
    CloseDiagnosticLog();

    EXPECT_FALSE(gotThrough) << "an entry was written into a half-opened log";
    EXPECT_EQ((std::vector<LoggedEntry>{Message('I', kFn, kSrc, "from the opening thread"),
                                        Message('I', kFn, kSrc, "from another thread")}),
              LoggedEntries(log));
}

TEST_F(DiagnosticLogLock, AnEntryWaitsUntilTheCloseIsDone)
{
    ASSERT_EQ(GLOBAL_SUCCESS, OpenDiagnosticLog());
    bool gotThrough = true;
    const auto unload = OverrideApi(&pw::PlatformApi::FreeLibrary,
                                    [&, real = pw::Api().FreeLibrary](HMODULE module)
                                    {
                                        if (!other.joinable())
                                        {
                                            gotThrough = otherThreadGotThrough();
                                            LogDebugMessage(kFn, kSrc, 2, 'I', "from the closing thread");
                                        }
                                        return real(module);
                                    });

    CloseDiagnosticLog();
    other.join();

    EXPECT_FALSE(gotThrough) << "an entry met a half-closed log";
    EXPECT_THAT(log.entries(), IsEmpty()) << "both entries came after the sink had gone";
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

    RecordingEventLog m_log; // keeps the log open: the catalogue and message modules are registered
    char m_buffer[2048] = {};
};

// An own code and its description ("<none>": no description).
struct OwnCode
{
    ResultCode code;
    const char* description;
};

class DescribeOwnCode : public DescribeResultCodeTest, public ::testing::WithParamInterface<OwnCode>
{
};

TEST_P(DescribeOwnCode, IsDescribedByTheRegisteredCatalogue)
{
    ResultCode code = GetParam().code;
    EXPECT_EQ(GetParam().description, Describe(code));
    EXPECT_EQ(GetParam().code, code) << "own codes are logged unchanged";
}

INSTANTIATE_TEST_SUITE_P(
    NamedByTheirModulesRows, DescribeOwnCode,
    ::testing::Values(OwnCode{0xFE000007, "GLOBAL_ERROR_NOT_INITIALIZED"},
                      OwnCode{0xFE17000E, "SERVICES_ERROR_START_SERVICE_FAILED"},
                      OwnCode{0xFE88000A, "CSTORAGEPATH_ERROR_NO_INSTANCE"},
                      OwnCode{0xFEA2000A, "XMLLOCALPWPOLMGR_ERROR_NO_INSTANCE"},
                      OwnCode{0xFE890000, "DUMMY_ERROR_NOT_IMPLEMENTED"},
                      OwnCode{0xFE9A000B,
                              "THREADLOCALSTORAGE_ERROR_NO_DATA_SET:Attempted to get data from TLS "
                              "slot before data was set"}));
// The one row of the placeholder module is also its last.
INSTANTIATE_TEST_SUITE_P(IndexBeyondTheModulesRowsGivesItsUnknownRow, DescribeOwnCode,
                         ::testing::Values(OwnCode{0xFE170013, "SERVICES_ERROR_UNKNOWN"},
                                           OwnCode{0xFE00FFFF, "GLOBAL_ERROR_UNKNOWN"},
                                           OwnCode{0xFE890005, "DUMMY_ERROR_NOT_IMPLEMENTED"}));
// Slot 167 is empty; module 200 lies beyond the table.
INSTANTIATE_TEST_SUITE_P(EmptySlotAndModuleBeyondTheTableGiveNoDescription, DescribeOwnCode,
                         ::testing::Values(OwnCode{0xFEA70000, "<none>"}, OwnCode{0xFEC80001, "<none>"}));
INSTANTIATE_TEST_SUITE_P(TopByteFFIsAnOwnCode, DescribeOwnCode,
                         ::testing::Values(OwnCode{0xFF000000, "GLOBAL_SUCCESS"}));

TEST_F(DescribeResultCodeTest, SystemCodeKeepsTheTablesTextWithItsLineBreak)
{
    ResultCode code = ERROR_ACCESS_DENIED;
    const std::string text = Describe(code);
    EXPECT_EQ(static_cast<ResultCode>(ERROR_ACCESS_DENIED), code);
    ASSERT_GT(text.size(), 2u);
    EXPECT_EQ("\r\n", text.substr(text.size() - 2));
}

TEST_F(DescribeResultCodeTest, SystemTextNeedsOnlyTheBytesItsConversionTakes)
{
    // Regression: two bytes per UTF-16 unit were required, too many where a character takes one.
    ResultCode code = ERROR_ACCESS_DENIED;
    const std::string whole = Describe(code);
    std::vector<char> exact(whole.size() + 1);
    EXPECT_STREQ(whole.c_str(), DescribeResultCode(code, exact.data(), exact.size()));
    EXPECT_EQ(nullptr, DescribeResultCode(code, exact.data(), whole.size())) << "one byte short";
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
