#include "vpn/Common/Utility/Services.h"

#include <algorithm>
#include <vector>

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Platform/PlatformApi.h"
#include "vpn/Common/Platform/StringConvert.h"
#include "vpn/Common/Platform/UniqueHandle.h"

namespace
{

using LogNames::Services::kFile;
namespace names = LogNames::Services;

constexpr DWORD kPollStepMs = 300;
constexpr DWORD kStartTimeoutMs = 10000;
constexpr DWORD kStopTimeoutMs = 60000;

constexpr DWORD kStartAccess = SERVICE_QUERY_STATUS | SERVICE_START;
constexpr DWORD kStopAccess = SERVICE_QUERY_STATUS | SERVICE_STOP;
constexpr DWORD kEnableAccess = SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG;

// The handles of one operation, or the operation's result code for the step that failed. The
// service handle is declared last, so it closes first.
struct ServiceHandles
{
    ResultCode result = SERVICES_SUCCESS;
    CUniqueServiceHandle manager;
    CUniqueServiceHandle service;
};

const char* LogText(const CNarrowText& text)
{
    return text.c_str_or("");
}

// The start of every public operation: logs "<verb> service "<name>"" under the operation's name,
// refuses an empty name, then opens the service control manager of the local machine and the
// service. A failed open is logged, except for a service that does not exist.
ServiceHandles OpenHandles(const char* operation, const char* verb, const std::wstring& serviceName,
                           DWORD managerAccess, DWORD serviceAccess)
{
    PW_LOG_DEBUG(operation, 'I', "%s service \"%s\"", verb, LogText(CNarrowText(serviceName)));
    ServiceHandles handles;
    if (serviceName.empty())
    {
        handles.result = SERVICES_ERROR_BAD_PARAMETER;
        return handles;
    }

    // The two failed-open entries keep the names of the scoped holders that once logged them, so
    // that readers of the event log still find them.
    handles.manager.reset(pw::Api().OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, managerAccess));
    if (!handles.manager.valid())
    {
        constexpr const char* kFunction = names::kCSCMHandle;
        (void)PW_LOG_LAST_ERROR(LogNames::Invoked::kOpenSCManager, nullptr);
        handles.result = SERVICES_ERROR_OPEN_SC_MANAGER_FAILED;
        return handles;
    }

    handles.service.reset(pw::Api().OpenServiceW(handles.manager.get(), serviceName.c_str(), serviceAccess));
    if (!handles.service.valid())
    {
        if (::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST)
        {
            handles.result = SERVICES_ERROR_SERVICE_DOES_NOT_EXIST;
            return handles;
        }
        constexpr const char* kFunction = names::kCServiceHandle;
        (void)PW_LOG_LAST_ERROR_AT('W', LogNames::Invoked::kOpenService, nullptr);
        handles.result = SERVICES_ERROR_OPEN_SERVICE_FAILED;
    }
    return handles;
}

// The fallback wait: polls every step until the time is used up; the last step is the time that is left.
ResultCode PollForServiceState(SC_HANDLE service, CServices::ServiceState wanted, DWORD timeoutMs)
{
    constexpr const char* kFunction = names::kWaitForServiceState;
    for (DWORD step = kPollStepMs, remaining = timeoutMs; step != 0;
         step = std::min(step, remaining), remaining -= step)
    {
        pw::Api().Sleep(step);
        // A failed poll must not reuse the state of an earlier one.
        auto state = static_cast<CServices::ServiceState>(0);
        // "CService" without the s is the name this entry has always carried; kept on purpose.
        if (PW_LOG_IF_FAILED_AT('W', LogNames::Invoked::kCServiceGetServiceState,
                                CServices::getServiceState(service, state), nullptr) == SERVICES_SUCCESS &&
            state == wanted)
        {
            return SERVICES_SUCCESS;
        }
    }
    return SERVICES_ERROR_DESIRED_STATE_TIMEOUT;
}

// ERROR_SUCCESS, or the error of the refused start request.
DWORD RequestStart(SC_HANDLE service)
{
    return pw::Api().StartServiceW(service, 0, nullptr) ? ERROR_SUCCESS : LastErrorOfFailure();
}

} // namespace

ResultCode CServices::ServiceStart(const std::wstring& serviceName)
{
    constexpr const char* kFunction = names::kServiceStart;
    // Declared before the handles, so that it outlives the service handle's registration.
    CStatusNotification notification;
    const ServiceHandles handles =
        OpenHandles(kFunction, "Starting", serviceName, GENERIC_EXECUTE, kStartAccess);
    PW_RETURN_IF_FAILED_LOGGED(handles.result);

    ServiceState state = STATE_STOPPED;
    PW_RETURN_IF_FAILED(LogNames::Invoked::kCServicesGetServiceState,
                        getServiceState(handles.service.get(), state), nullptr);
    if (state == STATE_RUNNING)
    {
        return SERVICES_SUCCESS;
    }

    DWORD startError = RequestStart(handles.service.get());
    if (startError == ERROR_SERVICE_ALREADY_RUNNING)
    {
        // Already on its way (start pending): someone else is starting it.
        return SERVICES_SUCCESS;
    }
    if (startError == ERROR_SERVICE_DISABLED)
    {
        PW_RETURN_IF_FAILED(LogNames::Invoked::kCServicesEnableService, EnableService(serviceName), nullptr);
        // A second refusal fails the start, whatever its reason.
        startError = RequestStart(handles.service.get());
    }
    if (PW_LOG_IF_FAILED(LogNames::Invoked::kStartService, startError, nullptr) != ERROR_SUCCESS)
    {
        return SERVICES_ERROR_START_SERVICE_FAILED;
    }

    PW_RETURN_IF_FAILED(
        LogNames::Invoked::kCServicesWaitForServiceState,
        waitForServiceState(handles.service.get(), STATE_RUNNING, kStartTimeoutMs, notification),
        "STATE_RUNNING");
    return SERVICES_SUCCESS;
}

ResultCode CServices::ServiceStop(const std::wstring& serviceName)
{
    constexpr const char* kFunction = names::kServiceStop;
    // Declared before the handles, so that it outlives the service handle's registration.
    CStatusNotification notification;
    const ServiceHandles handles =
        OpenHandles(kFunction, "Stopping", serviceName, GENERIC_EXECUTE, kStopAccess);
    PW_RETURN_IF_FAILED_LOGGED(handles.result);

    ServiceState state = STATE_STOPPED;
    PW_RETURN_IF_FAILED(LogNames::Invoked::kCServicesGetServiceState,
                        getServiceState(handles.service.get(), state), nullptr);
    if (state == STATE_STOPPED)
    {
        return SERVICES_SUCCESS;
    }

    SERVICE_STATUS status = {};
    // A service that is already stopping refuses the control; the wait still decides.
    (void)PW_LOG_IF_WIN32_BOOL_FALSE(
        LogNames::Invoked::kControlService,
        pw::Api().ControlService(handles.service.get(), SERVICE_CONTROL_STOP, &status),
        "SERVICE_CONTROL_STOP");

    PW_RETURN_IF_FAILED(
        LogNames::Invoked::kCServicesWaitForServiceState,
        waitForServiceState(handles.service.get(), STATE_STOPPED, kStopTimeoutMs, notification),
        "STATE_STOPPED");
    return SERVICES_SUCCESS;
}

ResultCode CServices::EnableService(const std::wstring& serviceName)
{
    constexpr const char* kFunction = names::kEnableService;
    const ServiceHandles handles =
        OpenHandles(kFunction, "Enabling", serviceName, GENERIC_WRITE, kEnableAccess);
    PW_RETURN_IF_FAILED_LOGGED(handles.result);

    DWORD needed = 0;
    if (pw::Api().QueryServiceConfigW(handles.service.get(), nullptr, 0, &needed) ||
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    {
        (void)PW_LOG_LAST_ERROR(LogNames::Invoked::kQueryServiceConfig,
                                "Failed to determine needed buffer size");
        return SERVICES_ERROR_QUERY_SERVICE_CONFIG_FAILED;
    }

    // DWORD elements keep the record aligned; the buffer is zero-filled.
    std::vector<DWORD> buffer((needed + sizeof(DWORD) - 1) / sizeof(DWORD) + 1, 0);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (PW_LOG_IF_WIN32_BOOL_FALSE(
            LogNames::Invoked::kQueryServiceConfig,
            pw::Api().QueryServiceConfigW(handles.service.get(), config, needed, &needed),
            nullptr) != ERROR_SUCCESS)
    {
        return SERVICES_ERROR_QUERY_SERVICE_CONFIG_FAILED;
    }

    if (config->dwStartType == SERVICE_DISABLED &&
        PW_LOG_IF_WIN32_BOOL_FALSE(LogNames::Invoked::kChangeServiceConfig,
                                   pw::Api().ChangeServiceConfigW(handles.service.get(), SERVICE_NO_CHANGE,
                                                                  SERVICE_DEMAND_START, SERVICE_NO_CHANGE,
                                                                  nullptr, nullptr, nullptr, nullptr, nullptr,
                                                                  nullptr, nullptr),
                                   nullptr) != ERROR_SUCCESS)
    {
        return SERVICES_ERROR_CHANGE_SERVICE_CONFIG_FAILED;
    }
    return SERVICES_SUCCESS;
}

ResultCode CServices::getServiceState(SC_HANDLE service, ServiceState& state)
{
    constexpr const char* kFunction = names::kGetServiceState;
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (PW_LOG_IF_WIN32_BOOL_FALSE(LogNames::Invoked::kQueryServiceStatusEx,
                                   pw::Api().QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                                                  reinterpret_cast<LPBYTE>(&status),
                                                                  sizeof(status), &needed),
                                   nullptr) != ERROR_SUCCESS)
    {
        return SERVICES_ERROR_QUERY_SERVICE_FAILED;
    }
    if (status.dwCurrentState >= SERVICE_STOPPED && status.dwCurrentState <= SERVICE_PAUSED)
    {
        state = static_cast<ServiceState>(status.dwCurrentState);
    }
    return SERVICES_SUCCESS;
}

ResultCode CServices::waitForServiceState(SC_HANDLE service, ServiceState wanted, DWORD timeoutMs,
                                          CStatusNotification& notification)
{
    constexpr const char* kFunction = names::kWaitForServiceState;
    const ULONGLONG deadline = pw::Api().GetTickCount64() + timeoutMs;
    // A registration gives one callback, queued at once when the service is in the wanted state. The
    // callbacks run only in an alertable wait; the last wait is one of 0 ms, which still runs a
    // callback that is queued.
    DWORD error = notification.watch(service, wanted);
    for (bool last = false; error == ERROR_SUCCESS; error = notification.watch(service, wanted))
    {
        if (notification.reached(wanted))
        {
            return SERVICES_SUCCESS;
        }
        if (last)
        {
            return SERVICES_ERROR_DESIRED_STATE_TIMEOUT;
        }
        const ULONGLONG now = pw::Api().GetTickCount64();
        last = now >= deadline;
        (void)pw::Api().SleepEx(last ? 0 : static_cast<DWORD>(deadline - now), TRUE);
    }

    // No notification to be had: the function is missing (before Windows Vista), the registration was
    // refused, or the service was marked for deletion, whose handle gets no more notifications. A
    // client that lags (ERROR_SERVICE_NOTIFY_CLIENT_LAGGING) would need new handles, which belong to
    // the caller. Polling reads the current state and needs none of it.
    (void)PW_LOG_IF_FAILED_AT('W', LogNames::Invoked::kNotifyServiceStatusChange, error, "polling instead");
    const ULONGLONG now = pw::Api().GetTickCount64();
    return PollForServiceState(service, wanted, now < deadline ? static_cast<DWORD>(deadline - now) : 0);
}

CServices::CStatusNotification::~CStatusNotification()
{
    if (m_outstanding)
    {
        // The service handle has been closed, which ends the registration; a callback queued before
        // that runs now, while the buffer is still there.
        (void)pw::Api().SleepEx(0, TRUE);
    }
}

DWORD CServices::CStatusNotification::watch(SC_HANDLE service, ServiceState wanted)
{
    if (m_outstanding || reached(wanted))
    {
        return ERROR_SUCCESS;
    }
    if (m_notified && m_buffer.dwNotificationStatus != ERROR_SUCCESS)
    {
        return m_buffer.dwNotificationStatus;
    }
    // A callback that reported another state asks for the next one.
    m_buffer = {};
    m_buffer.dwVersion = SERVICE_NOTIFY_STATUS_CHANGE;
    m_buffer.pfnNotifyCallback = Notified;
    m_buffer.pContext = this;
    m_notified = false;
    // SERVICE_NOTIFY_STOPPED is 1 and each state's bit follows the one before it.
    const DWORD error = pw::Api().NotifyServiceStatusChangeW(service, 1u << (wanted - 1), &m_buffer);
    m_outstanding = error == ERROR_SUCCESS;
    return error;
}

bool CServices::CStatusNotification::reached(ServiceState wanted) const
{
    return m_notified && m_buffer.dwNotificationStatus == ERROR_SUCCESS &&
           m_buffer.ServiceStatus.dwCurrentState == static_cast<DWORD>(wanted);
}

void CALLBACK CServices::CStatusNotification::Notified(PVOID buffer)
{
    auto* self = static_cast<CStatusNotification*>(static_cast<SERVICE_NOTIFYW*>(buffer)->pContext);
    self->m_outstanding = false;
    self->m_notified = true;
}
