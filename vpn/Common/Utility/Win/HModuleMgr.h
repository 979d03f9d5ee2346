#pragma once

// Holds one module loaded by name at run time and frees it when destroyed.

#include <windows.h>

#include "vpn/Common/Logging/ResultCodes.h"
#include "vpn/Common/Platform/UniqueHandle.h"

class CHModuleMgr
{
public:
    CHModuleMgr() = default;
    CHModuleMgr(const CHModuleMgr&) = delete;
    CHModuleMgr& operator=(const CHModuleMgr&) = delete;

    // Loads the module from the system folder, freeing one already held first.
    [[nodiscard]] ResultCode STLoadLibrary(const wchar_t* name);
    // Looks an entry point of the held module up; address receives the result, null included.
    [[nodiscard]] ResultCode STGetProcAddress(const char* name, FARPROC& address);
    // Frees the held module; on failure the handle is kept.
    [[nodiscard]] ResultCode STFreeLibrary();

    HMODULE get() const { return m_module.get(); }

private:
    // Frees the module when the holder lets go of it, logging a failure.
    struct LoadedModuleTraits
    {
        using pointer = HMODULE;
        static pointer invalid() { return nullptr; }
        static void close(pointer module);
    };

    CUniqueHandle<LoadedModuleTraits> m_module;
};
