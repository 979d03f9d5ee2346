#include "vpn/Common/Utility/Win/PlatformApi.h"

#include <ntsecapi.h>
#include <sddl.h>
#include <wchar.h>

// ntsecapi.h names advapi32's export SystemFunction036 through this macro; the table keeps the
// documented name for its entry.
#undef RtlGenRandom

namespace pw
{

namespace
{
// ole32 is loaded when the first COM function is called, from System32 only, and kept for the rest
// of the process: only the read-back uses COM, so the help and the failure paths never load it and
// its dependencies (user32, gdi32, rpcrt4, combase).
HMODULE Ole32()
{
    static const HMODULE module = ::LoadLibraryExW(L"ole32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module;
}

// The COM function of that name, or null with the last error set.
template <typename Function>
Function Ole32Function(const char* name)
{
    const HMODULE module = Ole32();
    const FARPROC entry = module == nullptr ? nullptr : ::GetProcAddress(module, name);
    return reinterpret_cast<Function>(reinterpret_cast<void*>(entry));
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

    api.RegisterEventSourceA = ::RegisterEventSourceA;
    api.ReportEventA = ::ReportEventA;
    api.DeregisterEventSource = ::DeregisterEventSource;

    api.OpenThreadToken = ::OpenThreadToken;
    api.OpenProcessToken = ::OpenProcessToken;
    api.GetTokenInformation = ::GetTokenInformation;
    api.GlobalAlloc = ::GlobalAlloc;
    api.GlobalFree = ::GlobalFree;
    api.AllocateAndInitializeSid = ::AllocateAndInitializeSid;
    api.EqualSid = ::EqualSid;
    api.FreeSid = ::FreeSid;
    api.ConvertStringSidToSidW = ::ConvertStringSidToSidW;
    api.ConvertSidToStringSidW = ::ConvertSidToStringSidW;

    api.ConvertStringSecurityDescriptorToSecurityDescriptorW =
        ::ConvertStringSecurityDescriptorToSecurityDescriptorW;
    api.GetSecurityInfo = [](HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID* owner,
                             PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor)
    { return ::GetSecurityInfo(handle, type, what, owner, group, dacl, sacl, descriptor); };

    api.RtlGenRandom = [](PVOID buffer, ULONG size) { return ::SystemFunction036(buffer, size); };

    api.OpenSCManagerW = ::OpenSCManagerW;
    api.OpenServiceW = ::OpenServiceW;
    api.CloseServiceHandle = ::CloseServiceHandle;
    api.QueryServiceStatusEx = ::QueryServiceStatusEx;
    api.StartServiceW = ::StartServiceW;
    api.ControlService = ::ControlService;
    api.QueryServiceConfigW = ::QueryServiceConfigW;
    api.ChangeServiceConfigW = ::ChangeServiceConfigW;

    api.CoInitializeEx = [](LPVOID reserved, DWORD flags) -> HRESULT
    {
        static const auto function = Ole32Function<decltype(&::CoInitializeEx)>("CoInitializeEx");
        return function == nullptr ? LastErrorResult() : function(reserved, flags);
    };
    api.CoCreateInstance = [](REFCLSID classId, LPUNKNOWN outer, DWORD context, REFIID interfaceId,
                              LPVOID* object) -> HRESULT
    {
        static const auto function = Ole32Function<decltype(&::CoCreateInstance)>("CoCreateInstance");
        return function == nullptr ? LastErrorResult()
                                   : function(classId, outer, context, interfaceId, object);
    };
    api.CoUninitialize = []()
    {
        // Only called after a CoInitializeEx that succeeded, so ole32 is loaded by then.
        static const auto function = Ole32Function<decltype(&::CoUninitialize)>("CoUninitialize");
        if (function != nullptr)
        {
            function();
        }
    };
    return api;
}

PlatformApi& Api()
{
    // Built on first use, so that it is ready for code that runs during static initialisation.
    static PlatformApi api = RealPlatformApi();
    return api;
}

} // namespace pw
