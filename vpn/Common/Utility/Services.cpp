#include "vpn/Common/Utility/Services.h"

#include <optional>
#include <vector>

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Utility/ServiceHandles.h"
#include "vpn/Common/Utility/StringConvert.h"
#include "vpn/Common/Utility/Win/PlatformApi.h"

namespace
{

constexpr char kFile[] = "Services";

constexpr DWORD kPollStepMs = 300;
constexpr DWORD kStartTimeoutMs = 10000;
constexpr DWORD kStopTimeoutMs = 60000;

constexpr DWORD kStartAccess = SERVICE_QUERY_STATUS | SERVICE_START;
constexpr DWORD kStopAccess = SERVICE_QUERY_STATUS | SERVICE_STOP;
constexpr DWORD kEnableAccess = SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG;

// The handles of one operation, opened as every public operation opens them: the service control
// manager, then the service only when the manager opened. The service handle closes first.
class COperationHandles
{
public:
    COperationHandles(const std::wstring& serviceName, DWORD managerAccess, DWORD serviceAccess)
        : m_manager(managerAccess)
    {
        if (m_manager.valid())
        {
            m_service.emplace(m_manager, serviceName, serviceAccess);
        }
    }

    // 0 when both handles are open, else the operation's result code for the failed open.
    ResultCode openResult() const
    {
        if (!m_manager.valid())
        {
            return SERVICES_ERROR_OPEN_SC_MANAGER_FAILED;
        }
        if (!m_service->valid())
        {
            return m_service->exists() ? SERVICES_ERROR_OPEN_SERVICE_FAILED
                                       : SERVICES_ERROR_SERVICE_DOES_NOT_EXIST;
        }
        return SERVICES_SUCCESS;
    }

    SC_HANDLE service() const { return m_service->get(); }

private:
    CServices::CSCMHandle m_manager;
    std::optional<CServices::CServiceHandle> m_service;
};

const char* LogText(const CNarrowText& text)
{
    return text.c_str() != nullptr ? text.c_str() : "";
}

} // namespace

CServices::CSCMHandle::CSCMHandle(DWORD access)
    : m_handle(pw::Api().OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, access))
{
    if (!m_handle.valid())
    {
        const DWORD error = ::GetLastError();
        PW_LOG_RETURN_CODE("CServices::CSCMHandle::CSCMHandle", 'E', "::OpenSCManager", error, nullptr,
                           nullptr);
    }
}

CServices::CServiceHandle::CServiceHandle(const CSCMHandle& manager, const std::wstring& serviceName,
                                          DWORD access)
    : m_handle(pw::Api().OpenServiceW(manager.get(), serviceName.c_str(), access))
{
    if (!m_handle.valid())
    {
        const DWORD error = ::GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST)
        {
            m_exists = false;
            return;
        }
        PW_LOG_RETURN_CODE("CServices::CServiceHandle::CServiceHandle", 'W', "::OpenService", error, nullptr,
                           nullptr);
    }
}

ResultCode CServices::ServiceStart(const std::wstring& serviceName)
{
    const CNarrowText narrowName(serviceName);
    PW_LOG_DEBUG("CServices::ServiceStart", 'I', "Starting service \"%s\"", LogText(narrowName));
    if (serviceName.empty())
    {
        return SERVICES_ERROR_BAD_PARAMETER;
    }

    const COperationHandles handles(serviceName, GENERIC_EXECUTE, kStartAccess);
    if (handles.openResult() != SERVICES_SUCCESS)
    {
        return handles.openResult();
    }

    ServiceState state = STATE_STOPPED;
    ResultCode result = getServiceState(handles.service(), state);
    if (result != SERVICES_SUCCESS)
    {
        PW_LOG_RETURN_CODE("CServices::ServiceStart", 'E', "CServices::getServiceState", result, nullptr,
                           nullptr);
        return result;
    }
    if (state == STATE_RUNNING)
    {
        return SERVICES_SUCCESS;
    }

    if (!pw::Api().StartServiceW(handles.service(), 0, nullptr))
    {
        DWORD error = ::GetLastError();
        if (error == ERROR_SERVICE_ALREADY_RUNNING)
        {
            // Already on its way (start pending): someone else is starting it.
            return SERVICES_SUCCESS;
        }
        if (error == ERROR_SERVICE_DISABLED)
        {
            result = EnableService(serviceName);
            if (result != SERVICES_SUCCESS)
            {
                PW_LOG_RETURN_CODE("CServices::ServiceStart", 'E', "CServices::EnableService", result,
                                   nullptr, nullptr);
                return result;
            }
            if (pw::Api().StartServiceW(handles.service(), 0, nullptr))
            {
                error = ERROR_SUCCESS;
            }
            else
            {
                error = ::GetLastError();
            }
        }
        if (error != ERROR_SUCCESS)
        {
            PW_LOG_RETURN_CODE("CServices::ServiceStart", 'E', "::StartService", error, nullptr, nullptr);
            return SERVICES_ERROR_START_SERVICE_FAILED;
        }
    }

    result = waitForServiceState(handles.service(), STATE_RUNNING, kStartTimeoutMs);
    if (result != SERVICES_SUCCESS)
    {
        PW_LOG_RETURN_CODE("CServices::ServiceStart", 'E', "CServices::waitForServiceState", result, nullptr,
                           "STATE_RUNNING");
        return result;
    }
    return SERVICES_SUCCESS;
}

ResultCode CServices::ServiceStop(const std::wstring& serviceName)
{
    const CNarrowText narrowName(serviceName);
    PW_LOG_DEBUG("CServices::ServiceStop", 'I', "Stopping service \"%s\"", LogText(narrowName));
    if (serviceName.empty())
    {
        return SERVICES_ERROR_BAD_PARAMETER;
    }

    const COperationHandles handles(serviceName, GENERIC_EXECUTE, kStopAccess);
    if (handles.openResult() != SERVICES_SUCCESS)
    {
        return handles.openResult();
    }

    ServiceState state = STATE_STOPPED;
    ResultCode result = getServiceState(handles.service(), state);
    if (result != SERVICES_SUCCESS)
    {
        PW_LOG_RETURN_CODE("CServices::ServiceStop", 'E', "CServices::getServiceState", result, nullptr,
                           nullptr);
        return result;
    }
    if (state == STATE_STOPPED)
    {
        return SERVICES_SUCCESS;
    }

    SERVICE_STATUS status = {};
    if (!pw::Api().ControlService(handles.service(), SERVICE_CONTROL_STOP, &status))
    {
        // A service that is already stopping refuses the control; the wait still decides.
        const DWORD error = ::GetLastError();
        PW_LOG_RETURN_CODE("CServices::ServiceStop", 'E', "::ControlService", error, nullptr,
                           "SERVICE_CONTROL_STOP");
    }

    result = waitForServiceState(handles.service(), STATE_STOPPED, kStopTimeoutMs);
    if (result != SERVICES_SUCCESS)
    {
        PW_LOG_RETURN_CODE("CServices::ServiceStop", 'E', "CServices::waitForServiceState", result, nullptr,
                           "STATE_STOPPED");
        return result;
    }
    return SERVICES_SUCCESS;
}

ResultCode CServices::EnableService(const std::wstring& serviceName)
{
    const CNarrowText narrowName(serviceName);
    PW_LOG_DEBUG("CServices::EnableService", 'I', "Enabling service \"%s\"", LogText(narrowName));
    if (serviceName.empty())
    {
        return SERVICES_ERROR_BAD_PARAMETER;
    }

    const COperationHandles handles(serviceName, GENERIC_WRITE, kEnableAccess);
    if (handles.openResult() != SERVICES_SUCCESS)
    {
        return handles.openResult();
    }

    DWORD needed = 0;
    if (pw::Api().QueryServiceConfigW(handles.service(), nullptr, 0, &needed) ||
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    {
        const DWORD error = ::GetLastError();
        PW_LOG_RETURN_CODE("CServices::EnableService", 'E', "::QueryServiceConfig", error, nullptr,
                           "Failed to determine needed buffer size");
        return SERVICES_ERROR_QUERY_SERVICE_CONFIG_FAILED;
    }

    // DWORD elements keep the record aligned; the buffer is zero-filled.
    std::vector<DWORD> buffer((needed + sizeof(DWORD) - 1) / sizeof(DWORD) + 1, 0);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!pw::Api().QueryServiceConfigW(handles.service(), config, needed, &needed))
    {
        const DWORD error = ::GetLastError();
        PW_LOG_RETURN_CODE("CServices::EnableService", 'E', "::QueryServiceConfig", error, nullptr, nullptr);
        return SERVICES_ERROR_QUERY_SERVICE_CONFIG_FAILED;
    }

    if (config->dwStartType == SERVICE_DISABLED)
    {
        if (!pw::Api().ChangeServiceConfigW(handles.service(), SERVICE_NO_CHANGE, SERVICE_DEMAND_START,
                                            SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr))
        {
            const DWORD error = ::GetLastError();
            PW_LOG_RETURN_CODE("CServices::EnableService", 'E', "::ChangeServiceConfig", error, nullptr,
                               nullptr);
            return SERVICES_ERROR_CHANGE_SERVICE_CONFIG_FAILED;
        }
    }
    return SERVICES_SUCCESS;
}

ResultCode CServices::getServiceState(SC_HANDLE service, ServiceState& state)
{
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!pw::Api().QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status),
                                        sizeof(status), &needed))
    {
        const DWORD error = ::GetLastError();
        PW_LOG_RETURN_CODE("CServices::getServiceState", 'E', "::QueryServiceStatusEx", error, nullptr,
                           nullptr);
        return SERVICES_ERROR_QUERY_SERVICE_FAILED;
    }
    if (status.dwCurrentState >= SERVICE_STOPPED && status.dwCurrentState <= SERVICE_PAUSED)
    {
        state = static_cast<ServiceState>(status.dwCurrentState);
    }
    return SERVICES_SUCCESS;
}

ResultCode CServices::waitForServiceState(SC_HANDLE service, ServiceState wanted, DWORD timeoutMs)
{
    DWORD remaining = timeoutMs;
    DWORD step = kPollStepMs;
    do
    {
        pw::Api().Sleep(step);
        // A failed poll must not reuse the state of an earlier one.
        ServiceState state = static_cast<ServiceState>(0);
        const ResultCode result = getServiceState(service, state);
        if (result != SERVICES_SUCCESS)
        {
            PW_LOG_RETURN_CODE("CServices::waitForServiceState", 'W', "CService::getServiceState", result,
                               nullptr, nullptr);
        }
        else if (state == wanted)
        {
            return SERVICES_SUCCESS;
        }

        if (remaining > step)
        {
            remaining -= step;
        }
        else
        {
            step = remaining;
            remaining = 0;
        }
    } while (step != 0);
    return SERVICES_ERROR_DESIRED_STATE_TIMEOUT;
}
