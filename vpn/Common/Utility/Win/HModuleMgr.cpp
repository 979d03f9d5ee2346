#include "vpn/Common/Utility/Win/HModuleMgr.h"

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Platform/PlatformApi.h"
#include "vpn/Common/Platform/StringConvert.h"

namespace
{
using LogNames::HModuleMgr::kFile;
namespace names = LogNames::HModuleMgr;

// ERROR_SUCCESS, or the error of a refused free (logged).
DWORD FreeLoadedModule(HMODULE module)
{
    constexpr const char* kFunction = names::kSTFreeLibrary;
    return PW_LOG_IF_WIN32_BOOL_FALSE(LogNames::Invoked::kFreeLibrary, pw::Api().FreeLibrary(module),
                                      nullptr);
}
} // namespace

void CHModuleMgr::LoadedModuleTraits::close(HMODULE module)
{
    (void)FreeLoadedModule(module);
}

ResultCode CHModuleMgr::STLoadLibrary(const wchar_t* name)
{
    constexpr const char* kFunction = names::kSTLoadLibrary;
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
        const DWORD error = PW_LOG_LAST_ERROR_AT('W', LogNames::Invoked::kLoadLibrary, "Unable to load %s",
                                                 CNarrowText(name).c_str());
        return error == ERROR_SHARING_VIOLATION ? GLOBAL_ERROR_BAD_HANDLE : GLOBAL_ERROR_NOT_INITIALIZED;
    }
    return GLOBAL_SUCCESS;
}

ResultCode CHModuleMgr::STGetProcAddress(const char* name, FARPROC& address)
{
    constexpr const char* kFunction = names::kSTGetProcAddress;
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
        (void)PW_LOG_LAST_ERROR_AT('W', LogNames::Invoked::kGetProcAddress, "Unable to obtain entry point %s",
                                   name);
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
    if (FreeLoadedModule(m_module.get()) != ERROR_SUCCESS)
    {
        return GLOBAL_ERROR_UNEXPECTED;
    }
    (void)m_module.release();
    return GLOBAL_SUCCESS;
}
