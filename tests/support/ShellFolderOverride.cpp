#include "ShellFolderOverride.h"

#include <cstring>
#include <functional>

namespace
{
std::function<FARPROC(HMODULE, LPCSTR)> ShellFolderLookup(ShellFolderFunction replacement)
{
    return [replacement, lookUp = pw::Api().GetProcAddress](HMODULE module, LPCSTR name) -> FARPROC
    {
        // A name below 0x10000 is an ordinal, not a string.
        if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) == 0 || std::strcmp(name, "SHGetFolderPathW") != 0)
        {
            return lookUp(module, name);
        }
        if (replacement == nullptr)
        {
            ::SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(replacement));
    };
}
} // namespace

ShellFolderOverride OverrideShellFolderFunction(ShellFolderFunction replacement)
{
    return OverrideApi(&pw::PlatformApi::GetProcAddress, ShellFolderLookup(replacement));
}
