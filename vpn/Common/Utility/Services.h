#pragma once

// Starts, stops and enables Windows services by name, waiting on the service control manager's
// notification until a service has reached the wanted state (polling where no notification can be
// had). Each operation opens its own handles and closes them before it returns; the calling thread
// blocks for up to 10 s for a start and 60 s for a stop.

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

    // The buffer of the status notifications on one service handle; the callbacks run on the thread
    // that waits. Windows writes to it until its callback has run or the handle is closed, so it must
    // outlive the handle: declare it before the handle's holder. A callback that was already queued
    // when the handle closed runs in its destruction, while the buffer is still there.
    class CStatusNotification
    {
    public:
        CStatusNotification() = default;
        ~CStatusNotification();
        CStatusNotification(const CStatusNotification&) = delete;
        CStatusNotification& operator=(const CStatusNotification&) = delete;

        // Registers for the wanted state unless a registration is outstanding or a callback has
        // reported that state. ERROR_SUCCESS, or the code of a refused registration or of one that
        // ended without a status (the service was marked for deletion).
        [[nodiscard]] DWORD watch(SC_HANDLE service, ServiceState wanted);
        // True when a callback has reported the wanted state.
        bool reached(ServiceState wanted) const;

    private:
        static void CALLBACK Notified(PVOID buffer);

        SERVICE_NOTIFYW m_buffer = {};
        bool m_outstanding = false;
        bool m_notified = false;
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
    // Returns as soon as the service control manager reports the wanted state, without a poll's sleep
    // for a service that is there already; gives SERVICES_ERROR_DESIRED_STATE_TIMEOUT once the
    // time-out has run out. Where no notification can be had, logs one warning and polls every 300 ms,
    // the first time 300 ms later, for the rest of the time. The handle needs SERVICE_QUERY_STATUS.
    [[nodiscard]] static ResultCode waitForServiceState(SC_HANDLE service, ServiceState wanted,
                                                        DWORD timeoutMs, CStatusNotification& notification);
};
