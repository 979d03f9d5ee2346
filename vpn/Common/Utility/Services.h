#pragma once

// Starts, stops and enables Windows services by name, waiting by polling until a service has
// reached the wanted state. Each operation opens its own handles and closes them before it
// returns; the calling thread blocks for up to 10 s for a start and 60 s for a stop.

#include <windows.h>

#include <string>

#include "vpn/Common/Logging/ResultCodes.h"

class CServices
{
public:
    // Equal in value to the Windows service states.
    enum ServiceState : int
    {
        STATE_STOPPED = SERVICE_STOPPED,
        STATE_START_PENDING = SERVICE_START_PENDING,
        STATE_STOP_PENDING = SERVICE_STOP_PENDING,
        STATE_RUNNING = SERVICE_RUNNING,
        STATE_CONTINUE_PENDING = SERVICE_CONTINUE_PENDING,
        STATE_PAUSE_PENDING = SERVICE_PAUSE_PENDING,
        STATE_PAUSED = SERVICE_PAUSED
    };

    // Starts the service unless it runs already and waits up to 10 s for it to run. A disabled
    // service is first set to start on demand.
    [[nodiscard]] static ResultCode ServiceStart(const std::wstring& serviceName);
    // Sends the stop control unless the service is stopped and waits up to 60 s for it to stop.
    [[nodiscard]] static ResultCode ServiceStop(const std::wstring& serviceName);
    // Sets a disabled service to start on demand; any other start type is left alone.
    [[nodiscard]] static ResultCode EnableService(const std::wstring& serviceName);

    // The current state of the service; state is left unchanged for a state Windows does not define.
    [[nodiscard]] static ResultCode getServiceState(SC_HANDLE service, ServiceState& state);
    // Polls every 300 ms, the first time 300 ms after the call, until the service is in the wanted
    // state; gives SERVICES_ERROR_DESIRED_STATE_TIMEOUT once the time-out has run out.
    [[nodiscard]] static ResultCode waitForServiceState(SC_HANDLE service, ServiceState wanted,
                                                        DWORD timeoutMs);
};
