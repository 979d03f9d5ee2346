#include "vpn/Common/Utility/Win/HModuleMgr.h"

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Platform/PlatformApi.h"
#include "vpn/Common/Platform/StringConvert.h"

namespace
{
using LogNames::HModuleMgr::kFile;
namespace names = LogNames::HModuleMgr;

bool FreeLoadedModule(HMODULE module)
{
    if (!pw::Api().FreeLibrary(module))
    {
        const DWORD error = ::GetLastError();
        PW_LOG_RETURN_CODE(names::kSTFreeLibrary, 'E', LogNames::Invoked::kFreeLibrary, error, nullptr,
                           nullptr);
        return false;
    }
    return true;
}
} // namespace

void CHModuleMgr::LoadedModuleTraits::close(HMODULE module)
{
    (void)FreeLoadedModule(module);
}

ResultCode CHModuleMgr::STLoadLibrary(const wchar_t* name)
{
    // A module that cannot be freed is given up all the same.
    m_module.reset();
    if (name == nullptr)
    {
        return GLOBAL_ERROR_BAD_PARAMETER;
    }
    // Only from system32: never a planted copy beside the program or in the current directory.
    m_module.reset(pw::LoadSystemLibrary(name));
    if (!m_module.valid())
    {
        const DWORD error = ::GetLastError();
        PW_LOG_RETURN_CODE(names::kSTLoadLibrary, 'W', LogNames::Invoked::kLoadLibrary, error, nullptr,
                           "Unable to load %s", CNarrowText(name).c_str());
        return error == ERROR_SHARING_VIOLATION ? GLOBAL_ERROR_BAD_HANDLE : GLOBAL_ERROR_NOT_INITIALIZED;
    }
    return GLOBAL_SUCCESS;
}

ResultCode CHModuleMgr::STGetProcAddress(const char* name, FARPROC& address)
{
    if (!m_module.valid())
    {
        return GLOBAL_ERROR_UNEXPECTED;
    }
    if (name == nullptr)
    {
        return GLOBAL_ERROR_BAD_PARAMETER;
    }
    address = pw::Api().GetProcAddress(m_module.get(), name);
    if (address == nullptr)
    {
        const DWORD error = ::GetLastError();
        PW_LOG_RETURN_CODE(names::kSTGetProcAddress, 'W', LogNames::Invoked::kGetProcAddress, error, nullptr,
                           "Unable to obtain entry point %s", name);
        return GLOBAL_ERROR_NULL_POINTER;
    }
    return GLOBAL_SUCCESS;
}

ResultCode CHModuleMgr::STFreeLibrary()
{
    if (!m_module.valid())
    {
        return GLOBAL_SUCCESS;
    }
    if (!FreeLoadedModule(m_module.get()))
    {
        return GLOBAL_ERROR_UNEXPECTED;
    }
    (void)m_module.release();
    return GLOBAL_SUCCESS;
}
