#pragma once

// The one seam between the product and the platform. Every Win32, COM and C runtime function that
// the product calls is reached through this table, which holds the real functions by default.
// A test may replace an entry to make a call fail, return a chosen value or record its arguments,
// and puts the entry back afterwards (see OverrideApi in the test support library).

#include <windows.h>
#include <objbase.h>
#include <aclapi.h>
#include <sys/stat.h>

// Declared by newer SDKs only; Windows 7 understands it once KB2533623 is installed.
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

#include <functional>

namespace pw
{

struct PlatformApi
{
    // Kernel objects, files and directories
    std::function<BOOL(HANDLE)> CloseHandle;
    std::function<DWORD(LPCWSTR)> GetFileAttributesW;
    std::function<BOOL(LPCWSTR, LPSECURITY_ATTRIBUTES)> CreateDirectoryW;
    std::function<HANDLE(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)> CreateFileW;
    std::function<BOOL(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED)> WriteFile;
    std::function<BOOL(HANDLE)> FlushFileBuffers;
    std::function<BOOL(LPCWSTR, LPCWSTR, DWORD)> MoveFileExW;
    std::function<BOOL(LPCWSTR)> DeleteFileW;
    std::function<BOOL(HANDLE, LPBY_HANDLE_FILE_INFORMATION)> GetFileInformationByHandle;
    std::function<BOOL(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD)> SetFileInformationByHandle;
    std::function<int(const wchar_t*, struct _stat*)> wstat;

    // Modules and message tables
    // Looked up in kernel32 at run time (absent from Windows 7 without KB2533623): FALSE with
    // ERROR_PROC_NOT_FOUND there.
    std::function<BOOL(DWORD)> SetDefaultDllDirectories;
    std::function<HMODULE(LPCWSTR, HANDLE, DWORD)> LoadLibraryExW;
    std::function<FARPROC(HMODULE, LPCSTR)> GetProcAddress;
    std::function<BOOL(HMODULE)> FreeLibrary;
    // Without the insert arguments: the product always formats with FORMAT_MESSAGE_IGNORE_INSERTS.
    // (Leaving va_list out also keeps its x64 type attribute out of a template argument, where the
    // compiler would have to drop it.)
    std::function<DWORD(DWORD, LPCVOID, DWORD, DWORD, LPWSTR, DWORD)> FormatMessageW;
    std::function<HLOCAL(HLOCAL)> LocalFree;

    // Thread-local storage and time
    std::function<DWORD()> TlsAlloc;
    std::function<BOOL(DWORD)> TlsFree;
    std::function<void(DWORD)> Sleep;

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

    // Security descriptors
    std::function<BOOL(LPCWSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG)>
        ConvertStringSecurityDescriptorToSecurityDescriptorW;
    std::function<DWORD(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*, PACL*,
                        PSECURITY_DESCRIPTOR*)>
        GetSecurityInfo;

    // Random bytes from the system's generator (RtlGenRandom)
    std::function<BOOLEAN(PVOID, ULONG)> RtlGenRandom;

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

    // COM
    std::function<HRESULT(LPVOID, DWORD)> CoInitializeEx;
    std::function<HRESULT(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*)> CoCreateInstance;
    std::function<void()> CoUninitialize;
};

// The live table. Product code calls through it: Api().CreateFileW(...).
PlatformApi& Api();

// A table of the real platform functions.
PlatformApi RealPlatformApi();

} // namespace pw
