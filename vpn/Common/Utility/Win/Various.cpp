#include "vpn/Common/Utility/Win/Various.h"

#include <windows.h>

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Utility/Win/HModuleMgr.h"
#include "vpn/Common/Platform/PlatformApi.h"

namespace
{
constexpr char kFile[] = "Various";

using SHGetFolderPathWFn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
} // namespace

std::wstring GetCSIDLPath(int csidl)
{
    std::wstring result;
    CHModuleMgr shell;
    if (shell.STLoadLibrary(L"Shell32.dll") != GLOBAL_SUCCESS)
    {
        return result;
    }

    wchar_t buffer[MAX_PATH] = {};
    FARPROC entry = nullptr;
    if (shell.STGetProcAddress("SHGetFolderPathW", entry) == GLOBAL_SUCCESS && entry != nullptr)
    {
        // The shell exports the function by name only; its type is fixed by the shell's interface.
        const auto getFolderPath = reinterpret_cast<SHGetFolderPathWFn>(reinterpret_cast<void*>(entry));
        const HRESULT hr = getFolderPath(nullptr, csidl, nullptr, 0, buffer);
        if (FAILED(hr))
        {
            // "%ul" prints the number followed by the letter l; the entry has always read so, kept on
            // purpose.
            PW_LOG_RETURN_CODE("GetCSIDLPath", 'W', "SHGetFolderPath", static_cast<ResultCode>(hr), nullptr,
                               "CSIDL value = %ul", csidl);
        }
    }
    buffer[MAX_PATH - 1] = L'\0';
    result = buffer;
    return result;
}

bool IsFileInUse(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

DWORD RetryWhileFileInUse(const std::function<DWORD()>& attempt, bool (*inUse)(DWORD))
{
    DWORD error = ERROR_SUCCESS;
    for (int count = 1; count <= kFileInUseAttempts; ++count)
    {
        error = attempt();
        if (!inUse(error) || count == kFileInUseAttempts)
        {
            break;
        }
        pw::Api().Sleep(kFileInUsePauseMs);
    }
    return error;
}
