#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/RecordingEventLog.h"
#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Logging/EventLogLogger.h"

namespace
{
// One entry of message id 2 through a fresh sink; returns what ReportEventA received.
EventLogEntry Report(int severity, int level)
{
    RecordingEventLog log(false);
    CEventLogLogger sink;
    EXPECT_EQ(GLOBAL_SUCCESS, sink.log(severity, "text", "MID_DEBUG_RETURN_CODE", 2, level));
    EXPECT_EQ(1u, log.entries().size());
    return log.entries().empty() ? EventLogEntry{} : log.entries().front();
}
} // namespace

TEST(EventLogEntryKind, MessageSeverityDecidesBeforeTheLevelCharacter)
{
    struct Kind
    {
        WORD type;
        DWORD eventId;
    };
    const Kind error = {EVENTLOG_ERROR_TYPE, 0xE4000002};
    const Kind warning = {EVENTLOG_WARNING_TYPE, 0xA4000002};
    const Kind information = {EVENTLOG_INFORMATION_TYPE, 0x64000002};
    const Kind bySeverity[] = {error, error, error, error, warning, information, information};
    for (int severity = 0; severity <= 6; ++severity)
    {
        for (int level : {'E', 'W', 'I', 'T', 'x'})
        {
            const EventLogEntry entry = Report(severity, level);
            EXPECT_EQ(bySeverity[severity].type, entry.type) << severity << " " << char(level);
            EXPECT_EQ(0, entry.category) << severity;
            EXPECT_EQ(bySeverity[severity].eventId, entry.eventId) << severity;
            EXPECT_EQ("text", entry.text);
        }
    }
}

TEST(EventLogEntryKind, DebugAndNegativeSeveritiesTakeTheTypeFromTheLevelCharacter)
{
    for (int severity : {7, 9, -1})
    {
        const WORD category = severity == 7 ? 1 : 0;
        EXPECT_EQ(EVENTLOG_ERROR_TYPE, Report(severity, 'E').type) << severity;
        EXPECT_EQ(EVENTLOG_WARNING_TYPE, Report(severity, 'W').type) << severity;
        EXPECT_EQ(EVENTLOG_INFORMATION_TYPE, Report(severity, 'I').type) << severity;
        EXPECT_EQ(EVENTLOG_INFORMATION_TYPE, Report(severity, 'T').type) << severity;
        const EventLogEntry other = Report(severity, 'x');
        EXPECT_EQ(EVENTLOG_SUCCESS, other.type) << severity;
        EXPECT_EQ(category, other.category) << severity;
        EXPECT_EQ(0x24000002u, other.eventId) << severity;
    }
}

TEST(EventLogEntryKind, LogFrontEndFilesItsMessagesAsDebugEntries)
{
    RecordingEventLog log;
    LogDebugMessage("f", "F", 1, 'W', "x");
    LogReturnCode("f", "F", 2, 'E', "g", 1, nullptr, nullptr);
    ASSERT_EQ(2u, log.entries().size());
    EXPECT_EQ(EVENTLOG_WARNING_TYPE, log.entries()[0].type);
    EXPECT_EQ(1, log.entries()[0].category);
    EXPECT_EQ(0x24000001u, log.entries()[0].eventId);
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, log.entries()[1].type);
    EXPECT_EQ(0x24000002u, log.entries()[1].eventId);
}

TEST(EventLogSinkFailures, NullTextUnregisteredSourceAndRefusedReport)
{
    RecordingEventLog log(false);
    {
        CEventLogLogger sink;
        EXPECT_EQ(GLOBAL_ERROR_BAD_PARAMETER, sink.log(7, nullptr, "n", 1, 'I'));
    }
    pw::Api().RegisterEventSourceA = [](LPCSTR, LPCSTR) { return static_cast<HANDLE>(nullptr); };
    {
        CEventLogLogger sink;
        EXPECT_EQ(GLOBAL_ERROR_NOT_INITIALIZED, sink.log(7, "t", "n", 1, 'I'));
    }
    pw::Api().RegisterEventSourceA = [](LPCSTR, LPCSTR) { return INVALID_HANDLE_VALUE; };
    bool deregistered = false;
    pw::Api().DeregisterEventSource = [&](HANDLE) { return deregistered = true; };
    {
        CEventLogLogger sink;
        EXPECT_EQ(GLOBAL_ERROR_NOT_INITIALIZED, sink.log(7, "t", "n", 1, 'I'));
    }
    EXPECT_FALSE(deregistered) << "an invalid source handle is never deregistered";
    EXPECT_TRUE(log.entries().empty());

    pw::Api().RegisterEventSourceA = [](LPCSTR, LPCSTR) { return reinterpret_cast<HANDLE>(0x10); };
    pw::Api().ReportEventA = [](HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCSTR*, LPVOID)
    { return FALSE; };
    CEventLogLogger sink;
    EXPECT_EQ(GLOBAL_ERROR_UNEXPECTED, sink.log(7, "t", "n", 1, 'I'));
}

// Writes one short entry through the real event log. The wine-eventlog CTest script runs this case
// with Wine's eventlog channel on and finds the entry's exact text there.
TEST(EventLogRealSink, WritesAShortEntry)
{
    ASSERT_EQ(GLOBAL_SUCCESS, OpenDiagnosticLog());
    LogDebugMessage("EventLogRealSink", "EventLogLoggerTest", 99, 'W', "real entry %d", 7);
    CloseDiagnosticLog();
}
