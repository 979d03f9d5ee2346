#include "vpn/Common/Logging/EventLogLogger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ApiOverride.h"
#include "support/RecordingEventLog.h"
#include "vpn/Common/Logging/DiagnosticLog.h"

namespace
{
using ::testing::IsEmpty;

// One entry of message id 2 through a fresh sink; returns what ReportEventA received.
EventLogEntry Report(int severity, int level)
{
    RecordingEventLog log(false);
    CEventLogLogger sink;
    EXPECT_EQ(GLOBAL_SUCCESS, sink.log(severity, "text", "MID_DEBUG_RETURN_CODE", 2, level));
    EXPECT_EQ(1u, log.entries().size());
    return log.entries().empty() ? EventLogEntry{} : log.entries().front();
}

// A message severity that decides the entry's type whatever the level character, with the type and
// the event id of message 2 that it gives.
struct SeverityKind
{
    int severity;
    WORD type;
    DWORD eventId;
};

class EventLogEntryBySeverity : public ::testing::TestWithParam<SeverityKind>
{
};

TEST_P(EventLogEntryBySeverity, MessageSeverityDecidesBeforeTheLevelCharacter)
{
    const SeverityKind& kind = GetParam();
    for (int level : {'E', 'W', 'I', 'T', 'x'})
    {
        EXPECT_EQ((EventLogEntry{kind.type, 0, kind.eventId, "text"}), Report(kind.severity, level))
            << char(level);
    }
}

INSTANTIATE_TEST_SUITE_P(Errors, EventLogEntryBySeverity,
                         ::testing::Values(SeverityKind{0, EVENTLOG_ERROR_TYPE, 0xE4000002},
                                           SeverityKind{1, EVENTLOG_ERROR_TYPE, 0xE4000002},
                                           SeverityKind{2, EVENTLOG_ERROR_TYPE, 0xE4000002},
                                           SeverityKind{3, EVENTLOG_ERROR_TYPE, 0xE4000002}));
INSTANTIATE_TEST_SUITE_P(Warning, EventLogEntryBySeverity,
                         ::testing::Values(SeverityKind{4, EVENTLOG_WARNING_TYPE, 0xA4000002}));
INSTANTIATE_TEST_SUITE_P(Information, EventLogEntryBySeverity,
                         ::testing::Values(SeverityKind{5, EVENTLOG_INFORMATION_TYPE, 0x64000002},
                                           SeverityKind{6, EVENTLOG_INFORMATION_TYPE, 0x64000002}));

// Severities that leave the type to the level character: debug (7), beyond the scale, negative.
class EventLogEntryByLevel : public ::testing::TestWithParam<int>
{
};

TEST_P(EventLogEntryByLevel, DebugAndNegativeSeveritiesTakeTheTypeFromTheLevelCharacter)
{
    const int severity = GetParam();
    const WORD category = severity == 7 ? 1 : 0;
    EXPECT_EQ((EventLogEntry{EVENTLOG_ERROR_TYPE, category, 0x24000002, "text"}), Report(severity, 'E'));
    EXPECT_EQ((EventLogEntry{EVENTLOG_WARNING_TYPE, category, 0x24000002, "text"}), Report(severity, 'W'));
    EXPECT_EQ((EventLogEntry{EVENTLOG_INFORMATION_TYPE, category, 0x24000002, "text"}),
              Report(severity, 'I'));
    EXPECT_EQ((EventLogEntry{EVENTLOG_INFORMATION_TYPE, category, 0x24000002, "text"}),
              Report(severity, 'T'));
    EXPECT_EQ((EventLogEntry{EVENTLOG_SUCCESS, category, 0x24000002, "text"}), Report(severity, 'x'));
}

INSTANTIATE_TEST_SUITE_P(Severities, EventLogEntryByLevel, ::testing::Values(7, 9, -1));
} // namespace

TEST(EventLogEntryKind, LogFrontEndFilesItsMessagesAsDebugEntries)
{
    RecordingEventLog log;
    LogDebugMessage("f", "F", 1, 'W', "x");
    LogReturnCode("f", "F", 2, 'E', "g", 1, nullptr, nullptr);
    ASSERT_EQ(2u, log.entries().size());
    EXPECT_EQ((EventLogEntry{EVENTLOG_WARNING_TYPE, 1, 0x24000001u, DebugEntry("f", "F", 1, "x")}),
              log.entries()[0]);
    // The description of code 1 is the system's text.
    EXPECT_EQ((EventLogEntry{EVENTLOG_ERROR_TYPE, 1, 0x24000002u, log.entries()[1].text}), log.entries()[1]);
}

TEST(EventLogSinkFailures, NullTextUnregisteredSourceAndRefusedReport)
{
    RecordingEventLog log(false);
    {
        CEventLogLogger sink;
        EXPECT_EQ(GLOBAL_ERROR_BAD_PARAMETER, sink.log(7, nullptr, "n", 1, 'I'));
    }
    bool deregistered = false;
    const auto deregister =
        OverrideApi(&pw::PlatformApi::DeregisterEventSource, [&](HANDLE) { return deregistered = true; });
    for (const HANDLE refused : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE})
    {
        const auto registerFake = OverrideApi(&pw::PlatformApi::RegisterEventSourceA,
                                              [refused](LPCSTR, LPCSTR) { return refused; });
        {
            CEventLogLogger sink;
            EXPECT_EQ(GLOBAL_ERROR_NOT_INITIALIZED, sink.log(7, "t", "n", 1, 'I')) << refused;
        }
    }
    EXPECT_FALSE(deregistered) << "an invalid source handle is never deregistered";
    EXPECT_THAT(log.entries(), IsEmpty());

    const auto registerFake = OverrideApi(&pw::PlatformApi::RegisterEventSourceA,
                                          [](LPCSTR, LPCSTR) { return reinterpret_cast<HANDLE>(0x10); });
    const auto reportFake =
        OverrideApi(&pw::PlatformApi::ReportEventA,
                    [](HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCSTR*, LPVOID) { return FALSE; });
    {
        CEventLogLogger sink;
        EXPECT_EQ(GLOBAL_ERROR_UNEXPECTED, sink.log(7, "t", "n", 1, 'I'));
    }
    EXPECT_TRUE(deregistered) << "a registered source is given back";
}

// Writes one short entry through the real event log. The wine-eventlog CTest script runs this case
// with Wine's eventlog channel on and finds the entry's exact text there.
TEST(EventLogRealSink, WritesAShortEntry)
{
    ASSERT_EQ(GLOBAL_SUCCESS, OpenDiagnosticLog());
    LogDebugMessage("EventLogRealSink", "EventLogLoggerTest", 99, 'W', "real entry %d", 7);
    CloseDiagnosticLog();
}
