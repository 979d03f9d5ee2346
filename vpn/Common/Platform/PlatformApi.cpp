#include "vpn/Common/Platform/PlatformApi.h"

#include <ntsecapi.h>
#include <sddl.h>
#include <wchar.h>

#include <atomic>
#include <memory>
#include <string>

// ntsecapi.h names advapi32's export SystemFunction036 through this macro; the table keeps the
// documented name for its entry.
#undef RtlGenRandom

namespace pw
{

namespace
{
// Loads name from the system folder with the given loader steps: the real functions for the
// libraries that the table itself binds to, the table's entries for everything else.
template <typename Load, typename SystemDirectory>
HMODULE LoadFromSystemFolder(Load&& load, SystemDirectory&& systemDirectory, const wchar_t* name, DWORD flags)
{
    const HMODULE module = load(name, nullptr, flags | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || ::GetLastError() != ERROR_INVALID_PARAMETER)
    {
        return module;
    }
    // The loader predates the flag: name the file in the system folder instead. A code module's own
    // imports are then searched for from there too.
    wchar_t folder[MAX_PATH] = {};
    const UINT length = systemDirectory(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
    {
        ::SetLastError(length == 0 ? ::GetLastError() : ERROR_BUFFER_OVERFLOW);
        return nullptr;
    }
    std::wstring path(folder, length);
    path += L'\\';
    path += name;
    constexpr DWORD kDataOnly =
        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE | LOAD_LIBRARY_AS_IMAGE_RESOURCE;
    return load(path.c_str(), nullptr,
                (flags & kDataOnly) != 0 ? flags : flags | LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE LoadRealSystemLibrary(const wchar_t* name)
{
    return LoadFromSystemFolder(::LoadLibraryExW, ::GetSystemDirectoryW, name, 0);
}

// kernel32 is loaded in every process: its optional functions are looked up without loading anything.
HMODULE Kernel32()
{
    return ::GetModuleHandleW(L"kernel32.dll");
}

// advapi32, ole32, oleaut32 and rstrtmgr are loaded when one of their functions is first called, from the
// system folder only, and kept for the rest of the process. The tool then imports none of them:
// asking for help loads no more than kernel32 and the C runtime, only the read-back loads COM and its
// dependencies (user32, gdi32, rpcrt4, combase), and only a policy file that stays in use loads the
// Restart Manager.
HMODULE Advapi32()
{
    static const HMODULE module = LoadRealSystemLibrary(L"advapi32.dll");
    return module;
}

HMODULE Ole32()
{
    static const HMODULE module = LoadRealSystemLibrary(L"ole32.dll");
    return module;
}

HMODULE Oleaut32()
{
    static const HMODULE module = LoadRealSystemLibrary(L"oleaut32.dll");
    return module;
}

HMODULE Rstrtmgr()
{
    static const HMODULE module = LoadRealSystemLibrary(L"rstrtmgr.dll");
    return module;
}

FARPROC ResolveInLibrary(HMODULE (*library)(), const char* name)
{
    const HMODULE module = library();
    return module == nullptr ? nullptr : ::GetProcAddress(module, name);
}

// An entry that looks its function up by name in library on its first call. Where the library or
// the function cannot be had (not on any supported Windows), the call returns what failure gives,
// with the last error of the failed lookup.
template <typename Pointer, typename Failure>
auto LateBound(LateBoundResolver resolve, HMODULE (*library)(), const char* name, Failure failure)
{
    auto bound = std::make_shared<std::atomic<Pointer>>(nullptr);
    return [resolve, library, name, failure, bound](auto... arguments)
    {
        Pointer function = bound->load();
        if (function == nullptr)
        {
            const FARPROC entry = resolve(library, name);
            if (entry == nullptr)
            {
                return failure();
            }
            function = reinterpret_cast<Pointer>(reinterpret_cast<void*>(entry));
            bound->store(function);
        }
        return function(arguments...);
    };
}

BOOL Refused()
{
    return FALSE;
}

template <typename Handle>
Handle NoHandle()
{
    return nullptr;
}

// The error of the failed lookup; never success, which would pass for the function's answer.
DWORD LastError()
{
    const DWORD error = ::GetLastError();
    return error == ERROR_SUCCESS ? ERROR_PROC_NOT_FOUND : error;
}

HRESULT LastErrorResult()
{
    const DWORD error = ::GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}
} // namespace

// Binds an entry to the function that library exports as exportName, of type Pointer, looked up on
// the entry's first call; PW_BIND_LATE for an entry named after its function as the headers declare it.
#define PW_BIND_LATE_EXPORT(library, entry, exportName, Pointer, failure)                                    \
    api.entry = LateBound<Pointer>(resolve, library, exportName, failure)
#define PW_BIND_LATE(library, name, failure)                                                                 \
    PW_BIND_LATE_EXPORT(library, name, #name, decltype(&::name), failure)

PlatformApi RealPlatformApi(LateBoundResolver resolve)
{
    if (resolve == nullptr)
    {
        resolve = ResolveInLibrary;
    }
    PlatformApi api;
    api.CloseHandle = ::CloseHandle;
    api.GetFileAttributesW = ::GetFileAttributesW;
    api.CreateDirectoryW = ::CreateDirectoryW;
    api.CreateFileW = ::CreateFileW;
    api.WriteFile = ::WriteFile;
    api.ReadFile = ::ReadFile;
    api.FlushFileBuffers = ::FlushFileBuffers;
    api.DeleteFileW = ::DeleteFileW;
    api.GetFileInformationByHandleEx = ::GetFileInformationByHandleEx;
    api.SetFileInformationByHandle = ::SetFileInformationByHandle;
    api.GetFinalPathNameByHandleW = ::GetFinalPathNameByHandleW;
    api.FindFirstFileW = ::FindFirstFileW;
    api.FindNextFileW = ::FindNextFileW;
    api.FindClose = ::FindClose;
    api.wstat = [](const wchar_t* path, struct _stat* st) { return ::_wstat(path, st); };

    api.IsWow64Process = ::IsWow64Process;
    PW_BIND_LATE(Advapi32, RegOpenKeyExW, [] { return static_cast<LSTATUS>(LastError()); });
    PW_BIND_LATE(Advapi32, RegQueryValueExW, [] { return static_cast<LSTATUS>(LastError()); });
    PW_BIND_LATE(Advapi32, RegCloseKey, [] { return static_cast<LSTATUS>(LastError()); });

    // Declared by the headers for Windows 10 targets only.
    PW_BIND_LATE_EXPORT(Kernel32, IsWow64Process2, "IsWow64Process2", BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*),
                        Refused);
    PW_BIND_LATE(Kernel32, SetDefaultDllDirectories, Refused);
    api.LoadLibraryExW = ::LoadLibraryExW;
    api.GetProcAddress = ::GetProcAddress;
    api.FreeLibrary = ::FreeLibrary;
    api.GetSystemDirectoryW = ::GetSystemDirectoryW;
    api.FormatMessageW = [](DWORD flags, LPCVOID source, DWORD id, DWORD language, LPWSTR buffer, DWORD size)
    { return ::FormatMessageW(flags, source, id, language, buffer, size, nullptr); };
    api.LocalFree = ::LocalFree;

    api.GetStdHandle = ::GetStdHandle;
    api.GetConsoleMode = ::GetConsoleMode;
    api.WriteConsoleW = ::WriteConsoleW;
    api.GetConsoleOutputCP = ::GetConsoleOutputCP;

    api.TlsAlloc = ::TlsAlloc;
    api.TlsFree = ::TlsFree;
    api.Sleep = ::Sleep;
    api.SleepEx = ::SleepEx;
    api.GetTickCount64 = ::GetTickCount64;

    PW_BIND_LATE(Advapi32, RegisterEventSourceA, NoHandle<HANDLE>);
    PW_BIND_LATE(Advapi32, ReportEventA, Refused);
    PW_BIND_LATE(Advapi32, DeregisterEventSource, Refused);

    PW_BIND_LATE(Advapi32, OpenThreadToken, Refused);
    PW_BIND_LATE(Advapi32, OpenProcessToken, Refused);
    PW_BIND_LATE(Advapi32, GetTokenInformation, Refused);
    api.GlobalAlloc = ::GlobalAlloc;
    api.GlobalFree = ::GlobalFree;
    PW_BIND_LATE(Advapi32, AllocateAndInitializeSid, Refused);
    PW_BIND_LATE(Advapi32, EqualSid, Refused);
    PW_BIND_LATE(Advapi32, GetLengthSid, [] { return DWORD{0}; });
    PW_BIND_LATE(Advapi32, FreeSid, NoHandle<PVOID>);
    PW_BIND_LATE(Advapi32, ConvertStringSidToSidW, Refused);
    PW_BIND_LATE(Advapi32, ConvertSidToStringSidW, Refused);

    PW_BIND_LATE(Advapi32, LookupAccountSidW, Refused);

    PW_BIND_LATE(Advapi32, ConvertStringSecurityDescriptorToSecurityDescriptorW, Refused);
    PW_BIND_LATE(Advapi32, GetSecurityInfo, LastError);

    PW_BIND_LATE(Advapi32, GetAce, Refused);

    PW_BIND_LATE_EXPORT(Advapi32, RtlGenRandom, "SystemFunction036", decltype(&::SystemFunction036),
                        [] { return BOOLEAN{FALSE}; });

    PW_BIND_LATE(Rstrtmgr, RmStartSession, LastError);
    PW_BIND_LATE(Rstrtmgr, RmRegisterResources, LastError);
    PW_BIND_LATE(Rstrtmgr, RmGetList, LastError);
    PW_BIND_LATE(Rstrtmgr, RmEndSession, LastError);

    PW_BIND_LATE(Advapi32, OpenSCManagerW, NoHandle<SC_HANDLE>);
    PW_BIND_LATE(Advapi32, OpenServiceW, NoHandle<SC_HANDLE>);
    PW_BIND_LATE(Advapi32, CloseServiceHandle, Refused);
    PW_BIND_LATE(Advapi32, QueryServiceStatusEx, Refused);
    PW_BIND_LATE(Advapi32, StartServiceW, Refused);
    PW_BIND_LATE(Advapi32, ControlService, Refused);
    PW_BIND_LATE(Advapi32, QueryServiceConfigW, Refused);
    PW_BIND_LATE(Advapi32, ChangeServiceConfigW, Refused);
    PW_BIND_LATE(Advapi32, NotifyServiceStatusChangeW, LastError);

    PW_BIND_LATE(Ole32, CoInitializeEx, LastErrorResult);
    PW_BIND_LATE(Ole32, CoCreateInstance, LastErrorResult);
    // Only called after a CoInitializeEx that succeeded, so ole32 is loaded by then.
    PW_BIND_LATE(Ole32, CoUninitialize, [] {});
    PW_BIND_LATE(Ole32, CreateStreamOnHGlobal, LastErrorResult);
    PW_BIND_LATE(Oleaut32, SysAllocString, NoHandle<BSTR>);
    // Only called on a string that SysAllocString gave, so oleaut32 is loaded by then.
    PW_BIND_LATE(Oleaut32, SysFreeString, [] {});
#undef PW_BIND_LATE
#undef PW_BIND_LATE_EXPORT
    return api;
}

HMODULE LoadSystemLibrary(const wchar_t* name, DWORD flags)
{
    return LoadFromSystemFolder(Api().LoadLibraryExW, Api().GetSystemDirectoryW, name, flags);
}

PlatformApi& Api()
{
    // Built on first use, so that it is ready for code that runs during static initialisation.
    static PlatformApi api = RealPlatformApi();
    return api;
}

void KeepShellLibraryLoaded()
{
    static const HMODULE shell = LoadRealSystemLibrary(L"shell32.dll");
    (void)shell;
}

} // namespace pw
