#include "vpn/Common/Utility/Win/PlatformApi.h"

#include <wchar.h>

namespace pw
{

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
    api.wstat = [](const wchar_t* path, struct _stat* st) { return ::_wstat(path, st); };

    api.LoadLibraryW = ::LoadLibraryW;
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

    api.OpenSCManagerW = ::OpenSCManagerW;
    api.OpenServiceW = ::OpenServiceW;
    api.CloseServiceHandle = ::CloseServiceHandle;
    api.QueryServiceStatusEx = ::QueryServiceStatusEx;
    api.StartServiceW = ::StartServiceW;
    api.ControlService = ::ControlService;
    api.QueryServiceConfigW = ::QueryServiceConfigW;
    api.ChangeServiceConfigW = ::ChangeServiceConfigW;

    api.CoInitializeEx = ::CoInitializeEx;
    api.CoCreateInstance = ::CoCreateInstance;
    api.CoUninitialize = ::CoUninitialize;

    api.GetCurrentProcessId = ::GetCurrentProcessId;
    return api;
}

PlatformApi& Api()
{
    // Built on first use, so that it is ready for code that runs during static initialisation.
    static PlatformApi api = RealPlatformApi();
    return api;
}

} // namespace pw
