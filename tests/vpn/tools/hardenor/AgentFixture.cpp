#include "AgentFixture.h"

#include <gtest/gtest.h>

#include <string>

#include "HardenorProcess.h"
#include "support/WaitUntil.h"

namespace agent
{
namespace
{
class ScHandle
{
public:
    explicit ScHandle(SC_HANDLE handle) : m_handle(handle) {}
    ~ScHandle()
    {
        if (m_handle != nullptr)
        {
            ::CloseServiceHandle(m_handle);
        }
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE get() const { return m_handle; }

private:
    SC_HANDLE m_handle;
};

ScHandle Manager()
{
    return ScHandle(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

std::wstring StatusFilePath()
{
    return AgentDirectory() + L"zirodava-status.txt";
}

} // namespace

bool Install()
{
    CreateDirectories(AgentDirectory());
    // A stopped agent's process may still be ending and hold its executable for a moment.
    for (int attempt = 0;; ++attempt)
    {
        RemoveExecutable();
        if (::CopyFileW((BuildDirectory() + L"zirodava.exe").c_str(), AgentExecutablePath().c_str(), FALSE))
        {
            break;
        }
        const DWORD error = ::GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) || attempt == 100)
        {
            ADD_FAILURE() << "the agent could not be copied into place: error " << error;
            return false;
        }
        ::Sleep(100);
    }
    if (!RegisterService())
    {
        ADD_FAILURE() << "the agent could not be registered: error " << ::GetLastError();
        return false;
    }
    return true;
}

void RemoveExecutable()
{
    RemovePath(AgentExecutablePath());
}

bool ServiceRegistered()
{
    ScHandle manager = Manager();
    ScHandle service(::OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_STATUS));
    return service.get() != nullptr;
}

bool RegisterService()
{
    ScHandle manager = Manager();
    const std::wstring binary = L"\"" + AgentExecutablePath() + L"\"";
    ScHandle existing(::OpenServiceW(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
    if (existing.get() != nullptr)
    {
        // The agent as the tests expect it: no delays or other options left by a benchmark or a
        // demonstration on its command line.
        return ::ChangeServiceConfigW(existing.get(), SERVICE_NO_CHANGE, SERVICE_DEMAND_START,
                                      SERVICE_NO_CHANGE, binary.c_str(), nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr) != FALSE;
    }
    ScHandle created(::CreateServiceW(manager.get(), kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                                      SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                      binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    return created.get() != nullptr;
}

void DeleteService()
{
    if (!ServiceRegistered())
    {
        return;
    }
    Stop();
    WaitFor(SERVICE_STOPPED);
    ScHandle manager = Manager();
    ScHandle service(::OpenServiceW(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
    if (service.get() != nullptr)
    {
        ::DeleteService(service.get());
    }
}

bool SetStartType(DWORD startType)
{
    ScHandle manager = Manager();
    ScHandle service(::OpenServiceW(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
    return service.get() != nullptr &&
           ::ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

DWORD StartType()
{
    ScHandle manager = Manager();
    ScHandle service(::OpenServiceW(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
    DWORD needed = 0;
    ::QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::string buffer(needed, '\0');
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(&buffer[0]);
    if (needed == 0 || !::QueryServiceConfigW(service.get(), config, needed, &needed))
    {
        return 0xFFFFFFFF;
    }
    return config->dwStartType;
}

DWORD State()
{
    ScHandle manager = Manager();
    ScHandle service(::OpenServiceW(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (service.get() == nullptr ||
        !::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status),
                                sizeof(status), &needed))
    {
        return 0;
    }
    return status.dwCurrentState;
}

bool Start()
{
    ScHandle manager = Manager();
    ScHandle service(::OpenServiceW(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
    return service.get() != nullptr && ::StartServiceW(service.get(), 0, nullptr);
}

bool Stop()
{
    ScHandle manager = Manager();
    ScHandle service(::OpenServiceW(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
    SERVICE_STATUS status = {};
    return service.get() != nullptr && ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
}

bool WaitFor(DWORD state)
{
    return WaitUntil([state] { return State() == state; });
}

std::string Status(const std::string& key)
{
    const std::string bytes = ReadFileBytes(StatusFilePath());
    const std::string prefix = key + "=";
    size_t at = 0;
    while (at < bytes.size())
    {
        size_t end = bytes.find('\n', at);
        if (end == std::string::npos)
        {
            end = bytes.size();
        }
        std::string line = bytes.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
        {
            line.pop_back();
        }
        if (line.compare(0, prefix.size(), prefix) == 0)
        {
            return line.substr(prefix.size());
        }
        at = end + 1;
    }
    return std::string();
}
} // namespace agent
