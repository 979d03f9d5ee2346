#include "vpn/Common/Utility/Win/Various.h"

#include <windows.h>

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Platform/PlatformApi.h"
#include "vpn/Common/Platform/UniqueHandle.h"
#include "vpn/Common/Utility/Win/HModuleMgr.h"

namespace
{
using LogNames::Various::kFile;
namespace names = LogNames::Various;

using SHGetFolderPathWFn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);

constexpr wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
// The native folder under both names that the 64-bit view of the key gives it; some systems (Wine)
// have only the second.
constexpr const wchar_t* kNativeProgramFilesValues[] = {L"ProgramW6432Dir", L"ProgramFilesDir"};
} // namespace

std::wstring GetCSIDLPath(int csidl)
{
    constexpr const char* kFunction = names::kGetCSIDLPath;
    std::wstring result;
    CHModuleMgr shell;
    if (shell.STLoadLibrary(L"Shell32.dll") != GLOBAL_SUCCESS)
    {
        return result;
    }
    pw::KeepShellLibraryLoaded();

    wchar_t buffer[MAX_PATH] = {};
    FARPROC entry = nullptr;
    if (shell.STGetProcAddress("SHGetFolderPathW", entry) == GLOBAL_SUCCESS && entry != nullptr)
    {
        // The shell exports the function by name only; its type is fixed by the shell's interface.
        const auto getFolderPath = reinterpret_cast<SHGetFolderPathWFn>(reinterpret_cast<void*>(entry));
        // "%ul" prints the number followed by the letter l; the entry has always read so, kept on purpose.
        (void)PW_LOG_IF_FAILED_HRESULT_AT('W', LogNames::Invoked::kSHGetFolderPath,
                                          getFolderPath(nullptr, csidl, nullptr, 0, buffer),
                                          "CSIDL value = %ul", csidl);
    }
    buffer[MAX_PATH - 1] = L'\0';
    result = buffer;
    return result;
}

bool IsFileInUse(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

DWORD RetryWhileFileInUse(const std::function<DWORD()>& attempt, const std::function<bool(DWORD)>& inUse)
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

std::wstring NativeProgramFilesFolder()
{
    // IsWow64Process tells an x86 process on ARM64 Windows that it is not under WOW64; its successor
    // tells every guest. Where Windows lacks it (before Windows 10 1709), the older call is asked.
    constexpr const char* kFunction = names::kNativeProgramFilesFolder;
    USHORT processMachine = IMAGE_FILE_MACHINE_UNKNOWN;
    USHORT nativeMachine = IMAGE_FILE_MACHINE_UNKNOWN;
    BOOL wow64 = FALSE;
    if (pw::Api().IsWow64Process2(::GetCurrentProcess(), &processMachine, &nativeMachine))
    {
        wow64 = processMachine != IMAGE_FILE_MACHINE_UNKNOWN;
    }
    else if (PW_LOG_IF_WIN32_BOOL_FALSE_AT('W', LogNames::Invoked::kIsWow64Process,
                                           pw::Api().IsWow64Process(::GetCurrentProcess(), &wow64),
                                           nullptr) != ERROR_SUCCESS)
    {
        return std::wstring();
    }
    if (!wow64)
    {
        return std::wstring();
    }
    // The 64-bit view of the key: a 32-bit process is otherwise shown the 32-bit folder here too.
    CUniqueRegistryKey key;
    LSTATUS status =
        PW_LOG_IF_FAILED_AT('W', LogNames::Invoked::kRegOpenKeyEx,
                            pw::Api().RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersionKey, 0,
                                                    KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()),
                            nullptr);
    if (status != ERROR_SUCCESS)
    {
        return std::wstring();
    }
    wchar_t folder[MAX_PATH + 1] = {};
    DWORD type = 0;
    for (const wchar_t* name : kNativeProgramFilesValues)
    {
        DWORD size = MAX_PATH * sizeof(wchar_t);
        status = pw::Api().RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(folder),
                                            &size);
        if (status != ERROR_FILE_NOT_FOUND)
        {
            break;
        }
    }
    if (status == ERROR_SUCCESS && type != REG_SZ)
    {
        status = ERROR_DATATYPE_MISMATCH;
    }
    if (PW_LOG_IF_FAILED_AT('W', LogNames::Invoked::kRegQueryValueEx, status, "%ls",
                            kNativeProgramFilesValues[0]) != ERROR_SUCCESS)
    {
        return std::wstring();
    }
    // A registry string need not end in a terminator: the buffer has one more, zeroed.
    std::wstring result(folder);
    while (!result.empty() && result.back() == L'\\')
    {
        result.pop_back();
    }
    return result;
}
