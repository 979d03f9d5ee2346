#include "vpn/Common/Logging/EventLogLogger.h"

#include "vpn/Common/Platform/PlatformApi.h"

namespace
{
constexpr char kEventSource[] = "pwhardenor";
constexpr int kDebugSeverity = 7;
constexpr DWORD kCustomerFacilityBits = 0x24000000; // customer flag and facility 0x400
} // namespace

CEventLogLogger::CEventLogLogger()
{
    // Registration fails with null; the invalid handle value is no source either.
    const HANDLE source = pw::Api().RegisterEventSourceA(nullptr, kEventSource);
    m_eventSource.reset(source == INVALID_HANDLE_VALUE ? nullptr : source);
}

WORD CEventLogLogger::EventType(int severity, int levelChar)
{
    if (severity >= 0 && severity <= 3)
    {
        return EVENTLOG_ERROR_TYPE;
    }
    if (severity == 4)
    {
        return EVENTLOG_WARNING_TYPE;
    }
    if (severity == 5 || severity == 6)
    {
        return EVENTLOG_INFORMATION_TYPE;
    }
    switch (levelChar)
    {
    case 'E':
        return EVENTLOG_ERROR_TYPE;
    case 'W':
        return EVENTLOG_WARNING_TYPE;
    case 'I':
    case 'T':
        return EVENTLOG_INFORMATION_TYPE;
    default:
        return EVENTLOG_SUCCESS;
    }
}

WORD CEventLogLogger::Category(int severity)
{
    return severity == kDebugSeverity ? 1 : 0;
}

DWORD CEventLogLogger::EventId(int severity, unsigned int messageId)
{
    DWORD severityClass = 0;
    if (severity >= 0 && severity <= 3)
    {
        severityClass = 3;
    }
    else if (severity == 4)
    {
        severityClass = 2;
    }
    else if (severity == 5 || severity == 6)
    {
        severityClass = 1;
    }
    return messageId | (severityClass << 30) | kCustomerFacilityBits;
}

ResultCode CEventLogLogger::log(int severity, const char* text, const char* /*messageName*/,
                                unsigned int messageId, int levelChar)
{
    if (text == nullptr)
    {
        return GLOBAL_ERROR_BAD_PARAMETER;
    }
    if (!m_eventSource.valid())
    {
        return GLOBAL_ERROR_NOT_INITIALIZED;
    }
    LPCSTR strings[] = {text};
    const BOOL reported =
        pw::Api().ReportEventA(m_eventSource.get(), EventType(severity, levelChar), Category(severity),
                               EventId(severity, messageId), nullptr, 1, 0, strings, nullptr);
    return reported ? GLOBAL_SUCCESS : GLOBAL_ERROR_UNEXPECTED;
}
