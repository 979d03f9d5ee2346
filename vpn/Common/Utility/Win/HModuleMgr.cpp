#include "vpn/Common/Utility/Win/HModuleMgr.h"

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Utility/StringConvert.h"
#include "vpn/Common/Utility/Win/PlatformApi.h"

namespace
{
constexpr char kFile[] = "HModuleMgr";
}

CHModuleMgr::~CHModuleMgr()
{
    (void)STFreeLibrary();
}

ResultCode CHModuleMgr::STLoadLibrary(const wchar_t* name)
{
    if (m_module != nullptr)
    {
        (void)STFreeLibrary();
    }
    if (name == nullptr)
    {
        return GLOBAL_ERROR_BAD_PARAMETER;
    }
    // Only from system32: never a planted copy beside the program or in the current directory.
    m_module = pw::Api().LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (m_module == nullptr)
    {
        const DWORD error = ::GetLastError();
        PW_LOG_RETURN_CODE("CHModuleMgr::STLoadLibrary", 'W', "LoadLibrary", error, nullptr,
                           "Unable to load %s", CNarrowText(name).c_str());
        return error == ERROR_SHARING_VIOLATION ? GLOBAL_ERROR_BAD_HANDLE : GLOBAL_ERROR_NOT_INITIALIZED;
    }
    return GLOBAL_SUCCESS;
}

ResultCode CHModuleMgr::STGetProcAddress(const char* name, FARPROC& address)
{
    if (m_module == nullptr)
    {
        return GLOBAL_ERROR_UNEXPECTED;
    }
    if (name == nullptr)
    {
        return GLOBAL_ERROR_BAD_PARAMETER;
    }
    address = pw::Api().GetProcAddress(m_module, name);
    if (address == nullptr)
    {
        const DWORD error = ::GetLastError();
        PW_LOG_RETURN_CODE("CHModuleMgr::STGetProcAddress", 'W', "GetProcAddress", error, nullptr,
                           "Unable to obtain entry point %s", name);
        return GLOBAL_ERROR_NULL_POINTER;
    }
    return GLOBAL_SUCCESS;
}

ResultCode CHModuleMgr::STFreeLibrary()
{
    if (m_module == nullptr)
    {
        return GLOBAL_SUCCESS;
    }
    if (!pw::Api().FreeLibrary(m_module))
    {
        const DWORD error = ::GetLastError();
        PW_LOG_RETURN_CODE("CHModuleMgr::STFreeLibrary", 'E', "FreeLibrary", error, nullptr, nullptr);
        return GLOBAL_ERROR_UNEXPECTED;
    }
    m_module = nullptr;
    return GLOBAL_SUCCESS;
}
