#pragma once

// The one seam between the product and the platform. Every Win32, COM and C runtime function that
// the product calls is reached through this table, which holds the real functions by default.
// A test may replace an entry to make a call fail, return a chosen value or record its arguments,
// and puts the entry back afterwards (see OverrideApi in the test support library).

#include <windows.h>

#include <aclapi.h>
#include <objbase.h>
#include <restartmanager.h>
#include <sys/stat.h>

// Declared by newer SDKs only; Windows 7 understands it once KB2533623 is installed.
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// Declared by newer SDKs only: the service notifications lag behind the service control manager.
#ifndef ERROR_SERVICE_NOTIFY_CLIENT_LAGGING
#define ERROR_SERVICE_NOTIFY_CLIENT_LAGGING 1294L
#endif

#include <functional>

namespace pw
{

// The information class of a rename with flags (POSIX semantics among them), which the SDK declares
// for Windows 10 targets only; older systems refuse it.
constexpr FILE_INFO_BY_HANDLE_CLASS kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

struct PlatformApi
{
    // Kernel objects, files and directories
    std::function<BOOL(HANDLE)> CloseHandle;
    std::function<DWORD(LPCWSTR)> GetFileAttributesW;
    std::function<BOOL(LPCWSTR, LPSECURITY_ATTRIBUTES)> CreateDirectoryW;
    std::function<HANDLE(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)> CreateFileW;
    std::function<BOOL(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED)> WriteFile;
    std::function<BOOL(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED)> ReadFile;
    std::function<BOOL(HANDLE)> FlushFileBuffers;
    std::function<BOOL(LPCWSTR)> DeleteFileW;
    std::function<BOOL(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD)> GetFileInformationByHandleEx;
    std::function<BOOL(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD)> SetFileInformationByHandle;
    std::function<DWORD(HANDLE, LPWSTR, DWORD, DWORD)> GetFinalPathNameByHandleW;
    std::function<HANDLE(LPCWSTR, LPWIN32_FIND_DATAW)> FindFirstFileW;
    std::function<BOOL(HANDLE, LPWIN32_FIND_DATAW)> FindNextFileW;
    std::function<BOOL(HANDLE)> FindClose;
    std::function<int(const wchar_t*, struct _stat*)> wstat;

    // Processes and the registry
    std::function<BOOL(HANDLE, PBOOL)> IsWow64Process;
    // Looked up in kernel32 at run time (Windows 10 1709 and later): FALSE with ERROR_PROC_NOT_FOUND
    // before.
    std::function<BOOL(HANDLE, USHORT*, USHORT*)> IsWow64Process2;
    std::function<LSTATUS(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY)> RegOpenKeyExW;
    std::function<LSTATUS(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD)> RegQueryValueExW;
    std::function<LSTATUS(HKEY)> RegCloseKey;

    // Modules and message tables
    // Looked up in kernel32 at run time (absent from Windows 7 without KB2533623): FALSE with
    // ERROR_PROC_NOT_FOUND there.
    std::function<BOOL(DWORD)> SetDefaultDllDirectories;
    std::function<HMODULE(LPCWSTR, HANDLE, DWORD)> LoadLibraryExW;
    std::function<FARPROC(HMODULE, LPCSTR)> GetProcAddress;
    std::function<BOOL(HMODULE)> FreeLibrary;
    std::function<UINT(LPWSTR, UINT)> GetSystemDirectoryW;
    // Without the insert arguments: the product always formats with FORMAT_MESSAGE_IGNORE_INSERTS.
    // (Leaving va_list out also keeps its x64 type attribute out of a template argument, where the
    // compiler would have to drop it.)
    std::function<DWORD(DWORD, LPCVOID, DWORD, DWORD, LPWSTR, DWORD)> FormatMessageW;
    std::function<HLOCAL(HLOCAL)> LocalFree;

    // Console output
    std::function<HANDLE(DWORD)> GetStdHandle;
    std::function<BOOL(HANDLE, LPDWORD)> GetConsoleMode;
    std::function<BOOL(HANDLE, const VOID*, DWORD, LPDWORD, LPVOID)> WriteConsoleW;
    std::function<UINT()> GetConsoleOutputCP;

    // Thread-local storage and time
    std::function<DWORD()> TlsAlloc;
    std::function<BOOL(DWORD)> TlsFree;
    std::function<void(DWORD)> Sleep;
    // An alertable wait: queued callbacks (the service notifications) run in it.
    std::function<DWORD(DWORD, BOOL)> SleepEx;
    std::function<ULONGLONG()> GetTickCount64;

    // Event log
    std::function<HANDLE(LPCSTR, LPCSTR)> RegisterEventSourceA;
    std::function<BOOL(HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCSTR*, LPVOID)> ReportEventA;
    std::function<BOOL(HANDLE)> DeregisterEventSource;

    // Access tokens and SIDs
    std::function<BOOL(HANDLE, DWORD, BOOL, PHANDLE)> OpenThreadToken;
    std::function<BOOL(HANDLE, DWORD, PHANDLE)> OpenProcessToken;
    std::function<BOOL(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD)> GetTokenInformation;
    std::function<HGLOBAL(UINT, SIZE_T)> GlobalAlloc;
    std::function<HGLOBAL(HGLOBAL)> GlobalFree;
    std::function<BOOL(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                       DWORD, PSID*)>
        AllocateAndInitializeSid;
    std::function<BOOL(PSID, PSID)> EqualSid;
    std::function<DWORD(PSID)> GetLengthSid;
    std::function<PVOID(PSID)> FreeSid;
    std::function<BOOL(LPCWSTR, PSID*)> ConvertStringSidToSidW;
    std::function<BOOL(PSID, LPWSTR*)> ConvertSidToStringSidW;
    std::function<BOOL(LPCWSTR, PSID, LPWSTR, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE)> LookupAccountSidW;

    // Security descriptors
    std::function<BOOL(LPCWSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG)>
        ConvertStringSecurityDescriptorToSecurityDescriptorW;
    std::function<DWORD(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*, PACL*,
                        PSECURITY_DESCRIPTOR*)>
        GetSecurityInfo;
    std::function<BOOL(PACL, DWORD, LPVOID*)> GetAce;

    // Random bytes from the system's generator (RtlGenRandom)
    std::function<BOOLEAN(PVOID, ULONG)> RtlGenRandom;

    // Restart Manager (rstrtmgr, loaded from the system folder on first use): who holds a file open
    std::function<DWORD(DWORD*, DWORD, WCHAR*)> RmStartSession;
    std::function<DWORD(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*)> RmRegisterResources;
    std::function<DWORD(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*)> RmGetList;
    std::function<DWORD(DWORD)> RmEndSession;

    // Service control manager
    std::function<SC_HANDLE(LPCWSTR, LPCWSTR, DWORD)> OpenSCManagerW;
    std::function<SC_HANDLE(SC_HANDLE, LPCWSTR, DWORD)> OpenServiceW;
    std::function<BOOL(SC_HANDLE)> CloseServiceHandle;
    std::function<BOOL(SC_HANDLE, SC_STATUS_TYPE, LPBYTE, DWORD, LPDWORD)> QueryServiceStatusEx;
    std::function<BOOL(SC_HANDLE, DWORD, LPCWSTR*)> StartServiceW;
    std::function<BOOL(SC_HANDLE, DWORD, LPSERVICE_STATUS)> ControlService;
    std::function<BOOL(SC_HANDLE, LPQUERY_SERVICE_CONFIGW, DWORD, LPDWORD)> QueryServiceConfigW;
    std::function<BOOL(SC_HANDLE, DWORD, DWORD, DWORD, LPCWSTR, LPCWSTR, LPDWORD, LPCWSTR, LPCWSTR, LPCWSTR,
                       LPCWSTR)>
        ChangeServiceConfigW;
    // The buffer must stay valid until its callback has run or the service handle is closed.
    std::function<DWORD(SC_HANDLE, DWORD, PSERVICE_NOTIFYW)> NotifyServiceStatusChangeW;

    // COM
    std::function<HRESULT(LPVOID, DWORD)> CoInitializeEx;
    std::function<HRESULT(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*)> CoCreateInstance;
    std::function<void()> CoUninitialize;
    std::function<HRESULT(HGLOBAL, BOOL, LPSTREAM*)> CreateStreamOnHGlobal;
    // Automation strings (oleaut32, loaded from the system folder on first use), for the COM methods
    // that take a BSTR.
    std::function<BSTR(const OLECHAR*)> SysAllocString;
    std::function<void(BSTR)> SysFreeString;
};

// The live table. Product code calls through it: Api().CreateFileW(...).
PlatformApi& Api();

// Finds a function of a library that is loaded on first use (advapi32, ole32, oleaut32, rstrtmgr): library
// gives the module, or null when it cannot be loaded. Null, with the last error set, when the
// function cannot be had.
using LateBoundResolver = FARPROC (*)(HMODULE (*library)(), const char* name);

// A table of the real platform functions. A resolver other than the default one is for tests of
// what each late-bound entry returns when its function cannot be found.
PlatformApi RealPlatformApi(LateBoundResolver resolve = nullptr);

// Loads a DLL of the system folder, never one beside the program or in the current directory:
// with LOAD_LIBRARY_SEARCH_SYSTEM32 added to flags, or, where the loader refuses that flag with
// ERROR_INVALID_PARAMETER (Windows 7 without KB2533623), by its full path in the system folder.
// Through the table's LoadLibraryExW and GetSystemDirectoryW. Null on failure, with the last error.
HMODULE LoadSystemLibrary(const wchar_t* name, DWORD flags = 0);

// Keeps the shell library loaded from the first call to the end of the process, as the table's own
// libraries are. The tool loads and frees it for each folder it asks for, and the XML reader's URL
// support loads it again moments later: without this hold every run maps it, with user32's
// and gdi32's companions, twice, which costs about a tenth of a run.
void KeepShellLibraryLoaded();

} // namespace pw
