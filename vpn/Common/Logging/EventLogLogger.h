#pragma once

#include <windows.h>

#include "vpn/Common/Logging/ILogger.h"
#include "vpn/Common/Platform/UniqueHandle.h"

// Writes each message as one entry of the Windows event log under the source "pwhardenor".
class CEventLogLogger : public ILogger
{
public:
    CEventLogLogger();
    CEventLogLogger(const CEventLogLogger&) = delete;
    CEventLogLogger& operator=(const CEventLogLogger&) = delete;

    [[nodiscard]] ResultCode log(int severity, const char* text, const char* messageName,
                                 unsigned int messageId, int levelChar) override;

    static WORD EventType(int severity, int levelChar);
    static WORD Category(int severity);
    static DWORD EventId(int severity, unsigned int messageId);

private:
    // Empty when the source could not be registered.
    CUniqueEventSource m_eventSource;
};
