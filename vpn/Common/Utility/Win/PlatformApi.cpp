#include "vpn/Common/Utility/Win/PlatformApi.h"

#include <ntsecapi.h>
#include <sddl.h>
#include <wchar.h>

#include <atomic>
#include <memory>

// ntsecapi.h names advapi32's export SystemFunction036 through this macro; the table keeps the
// documented name for its entry.
#undef RtlGenRandom

namespace pw
{

namespace
{
// advapi32 and ole32 are loaded when one of their functions is first called, from System32 only, and
// kept for the rest of the process. The tool then imports neither: asking for help loads no more than
// kernel32 and the C runtime, and only the read-back loads COM and its dependencies (user32, gdi32,
// rpcrt4, combase).
HMODULE Advapi32()
{
    static const HMODULE module = ::LoadLibraryExW(L"advapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module;
}

HMODULE Ole32()
{
    static const HMODULE module = ::LoadLibraryExW(L"ole32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module;
}

// An entry that looks its function up by name in library on its first call. Where the library or
// the function cannot be had (not on any supported Windows), the call returns what failure gives,
// with the last error of the failed lookup.
template <typename Pointer, typename Failure>
auto LateBound(HMODULE (*library)(), const char* name, Failure failure)
{
    auto bound = std::make_shared<std::atomic<Pointer>>(nullptr);
    return [library, name, failure, bound](auto... arguments)
    {
        Pointer function = bound->load();
        if (function == nullptr)
        {
            const HMODULE module = library();
            const FARPROC entry = module == nullptr ? nullptr : ::GetProcAddress(module, name);
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

DWORD LastError()
{
    return ::GetLastError();
}

HRESULT LastErrorResult()
{
    const DWORD error = ::GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}
} // namespace

PlatformApi RealPlatformApi()
{
    PlatformApi api;
    api.CloseHandle = ::CloseHandle;
    api.GetFileAttributesW = ::GetFileAttributesW;
    api.CreateDirectoryW = ::CreateDirectoryW;
    api.CreateFileW = ::CreateFileW;
    api.WriteFile = ::WriteFile;
    api.FlushFileBuffers = ::FlushFileBuffers;
    api.MoveFileExW = ::MoveFileExW;
    api.DeleteFileW = ::DeleteFileW;
    api.GetFileInformationByHandle = ::GetFileInformationByHandle;
    api.SetFileInformationByHandle = ::SetFileInformationByHandle;
    api.wstat = [](const wchar_t* path, struct _stat* st) { return ::_wstat(path, st); };

    api.SetDefaultDllDirectories = [](DWORD flags) -> BOOL
    {
        using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
        const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
        const FARPROC entry =
            kernel == nullptr ? nullptr : ::GetProcAddress(kernel, "SetDefaultDllDirectories");
        if (entry == nullptr)
        {
            ::SetLastError(ERROR_PROC_NOT_FOUND);
            return FALSE;
        }
        return reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(entry))(flags);
    };
    api.LoadLibraryExW = ::LoadLibraryExW;
    api.GetProcAddress = ::GetProcAddress;
    api.FreeLibrary = ::FreeLibrary;
    api.FormatMessageW = [](DWORD flags, LPCVOID source, DWORD id, DWORD language, LPWSTR buffer, DWORD size)
    { return ::FormatMessageW(flags, source, id, language, buffer, size, nullptr); };
    api.LocalFree = ::LocalFree;

    api.TlsAlloc = ::TlsAlloc;
    api.TlsFree = ::TlsFree;
    api.Sleep = ::Sleep;

    api.RegisterEventSourceA =
        LateBound<decltype(&::RegisterEventSourceA)>(Advapi32, "RegisterEventSourceA", NoHandle<HANDLE>);
    api.ReportEventA = LateBound<decltype(&::ReportEventA)>(Advapi32, "ReportEventA", Refused);
    api.DeregisterEventSource =
        LateBound<decltype(&::DeregisterEventSource)>(Advapi32, "DeregisterEventSource", Refused);

    api.OpenThreadToken = LateBound<decltype(&::OpenThreadToken)>(Advapi32, "OpenThreadToken", Refused);
    api.OpenProcessToken = LateBound<decltype(&::OpenProcessToken)>(Advapi32, "OpenProcessToken", Refused);
    api.GetTokenInformation =
        LateBound<decltype(&::GetTokenInformation)>(Advapi32, "GetTokenInformation", Refused);
    api.GlobalAlloc = ::GlobalAlloc;
    api.GlobalFree = ::GlobalFree;
    api.AllocateAndInitializeSid =
        LateBound<decltype(&::AllocateAndInitializeSid)>(Advapi32, "AllocateAndInitializeSid", Refused);
    api.EqualSid = LateBound<decltype(&::EqualSid)>(Advapi32, "EqualSid", Refused);
    api.GetLengthSid =
        LateBound<decltype(&::GetLengthSid)>(Advapi32, "GetLengthSid", [] { return DWORD{0}; });
    api.FreeSid = LateBound<decltype(&::FreeSid)>(Advapi32, "FreeSid", NoHandle<PVOID>);
    api.ConvertStringSidToSidW =
        LateBound<decltype(&::ConvertStringSidToSidW)>(Advapi32, "ConvertStringSidToSidW", Refused);
    api.ConvertSidToStringSidW =
        LateBound<decltype(&::ConvertSidToStringSidW)>(Advapi32, "ConvertSidToStringSidW", Refused);

    api.ConvertStringSecurityDescriptorToSecurityDescriptorW =
        LateBound<decltype(&::ConvertStringSecurityDescriptorToSecurityDescriptorW)>(
            Advapi32, "ConvertStringSecurityDescriptorToSecurityDescriptorW", Refused);
    api.GetSecurityInfo = LateBound<decltype(&::GetSecurityInfo)>(Advapi32, "GetSecurityInfo", LastError);

    api.RtlGenRandom = LateBound<decltype(&::SystemFunction036)>(Advapi32, "SystemFunction036",
                                                                 [] { return BOOLEAN{FALSE}; });

    api.OpenSCManagerW =
        LateBound<decltype(&::OpenSCManagerW)>(Advapi32, "OpenSCManagerW", NoHandle<SC_HANDLE>);
    api.OpenServiceW = LateBound<decltype(&::OpenServiceW)>(Advapi32, "OpenServiceW", NoHandle<SC_HANDLE>);
    api.CloseServiceHandle =
        LateBound<decltype(&::CloseServiceHandle)>(Advapi32, "CloseServiceHandle", Refused);
    api.QueryServiceStatusEx =
        LateBound<decltype(&::QueryServiceStatusEx)>(Advapi32, "QueryServiceStatusEx", Refused);
    api.StartServiceW = LateBound<decltype(&::StartServiceW)>(Advapi32, "StartServiceW", Refused);
    api.ControlService = LateBound<decltype(&::ControlService)>(Advapi32, "ControlService", Refused);
    api.QueryServiceConfigW =
        LateBound<decltype(&::QueryServiceConfigW)>(Advapi32, "QueryServiceConfigW", Refused);
    api.ChangeServiceConfigW =
        LateBound<decltype(&::ChangeServiceConfigW)>(Advapi32, "ChangeServiceConfigW", Refused);

    api.CoInitializeEx = LateBound<decltype(&::CoInitializeEx)>(Ole32, "CoInitializeEx", LastErrorResult);
    api.CoCreateInstance =
        LateBound<decltype(&::CoCreateInstance)>(Ole32, "CoCreateInstance", LastErrorResult);
    // Only called after a CoInitializeEx that succeeded, so ole32 is loaded by then.
    api.CoUninitialize = LateBound<decltype(&::CoUninitialize)>(Ole32, "CoUninitialize", [] {});
    return api;
}

PlatformApi& Api()
{
    // Built on first use, so that it is ready for code that runs during static initialisation.
    static PlatformApi api = RealPlatformApi();
    return api;
}

} // namespace pw
