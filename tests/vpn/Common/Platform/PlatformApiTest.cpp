#include "vpn/Common/Platform/PlatformApi.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "support/ApiOverride.h"

// The functions of advapi32, ole32 and rstrtmgr are looked up on first use. One that cannot be found
// must answer as that function fails; an answer of success would, say, make EqualSid find every
// owner trusted.
TEST(PlatformApiLateBound, FunctionThatCannotBeFoundAnswersAsItsFailure)
{
    const pw::PlatformApi api = pw::RealPlatformApi(
        [](HMODULE (*)(), const char*) -> FARPROC
        {
            ::SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        });
    BYTE sid[SECURITY_MAX_SID_SIZE] = {1, 1, 0, 0, 0, 0, 0, 5, 18};
    HANDLE handle = nullptr;
    DWORD number = 0;
    UINT count = 0;
    // Each entry's answer when its function is missing, as "failure" or "not failure".
    const std::vector<std::pair<const char*, std::function<bool()>>> entries = {
        {"EqualSid", [&] { return !api.EqualSid(sid, sid); }},
        {"OpenThreadToken",
         [&] { return !api.OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, &handle); }},
        {"OpenProcessToken",
         [&] { return !api.OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &handle); }},
        {"GetTokenInformation",
         [&] { return !api.GetTokenInformation(nullptr, TokenUser, nullptr, 0, &number); }},
        {"GetLengthSid", [&] { return api.GetLengthSid(sid) == 0; }},
        {"ConvertStringSidToSidW", [&] { return !api.ConvertStringSidToSidW(L"S-1-5-18", nullptr); }},
        {"ConvertSidToStringSidW", [&] { return !api.ConvertSidToStringSidW(sid, nullptr); }},
        {"LookupAccountSidW",
         [&] { return !api.LookupAccountSidW(nullptr, sid, nullptr, &number, nullptr, &number, nullptr); }},
        {"GetSecurityInfo",
         [&]
         {
             return api.GetSecurityInfo(nullptr, SE_FILE_OBJECT, 0, nullptr, nullptr, nullptr, nullptr,
                                        nullptr) == ERROR_PROC_NOT_FOUND;
         }},
        {"GetAce", [&] { return !api.GetAce(nullptr, 0, nullptr); }},
        {"RtlGenRandom", [&] { return !api.RtlGenRandom(sid, 4); }},
        {"RegisterEventSourceA", [&] { return api.RegisterEventSourceA(nullptr, "x") == nullptr; }},
        {"ReportEventA",
         [&] { return !api.ReportEventA(nullptr, 0, 0, 0, nullptr, 0, 0, nullptr, nullptr); }},
        {"OpenSCManagerW", [&] { return api.OpenSCManagerW(nullptr, nullptr, 0) == nullptr; }},
        {"OpenServiceW", [&] { return api.OpenServiceW(nullptr, L"x", 0) == nullptr; }},
        {"StartServiceW", [&] { return !api.StartServiceW(nullptr, 0, nullptr); }},
        {"ControlService", [&] { return !api.ControlService(nullptr, 0, nullptr); }},
        {"QueryServiceStatusEx",
         [&] { return !api.QueryServiceStatusEx(nullptr, SC_STATUS_PROCESS_INFO, nullptr, 0, &number); }},
        {"RmStartSession", [&] { return api.RmStartSession(&number, 0, nullptr) == ERROR_PROC_NOT_FOUND; }},
        {"RmGetList",
         [&] { return api.RmGetList(0, &count, &count, nullptr, &number) == ERROR_PROC_NOT_FOUND; }},
        {"CoInitializeEx", [&] { return FAILED(api.CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }},
        {"CoCreateInstance",
         [&] { return FAILED(api.CoCreateInstance(GUID_NULL, nullptr, 0, GUID_NULL, nullptr)); }},
    };
    for (const auto& entry : entries)
    {
        ::SetLastError(ERROR_SUCCESS);
        EXPECT_TRUE(entry.second()) << entry.first;
    }
}

// Regression: where the loader refuses LOAD_LIBRARY_SEARCH_SYSTEM32 (Windows 7 without its loader
// update), advapi32 never bound, and an administrator was told that he lacked privileges.
TEST(PlatformApiSystemLibrary, LoaderWithoutTheSystemFolderFlagIsGivenTheFullPath)
{
    std::vector<std::pair<std::wstring, DWORD>> loads;
    const auto oldLoader = OverrideApi(&pw::PlatformApi::LoadLibraryExW,
                                       [&loads](LPCWSTR name, HANDLE file, DWORD flags) -> HMODULE
                                       {
                                           loads.emplace_back(name, flags);
                                           if ((flags & LOAD_LIBRARY_SEARCH_SYSTEM32) != 0)
                                           {
                                               ::SetLastError(ERROR_INVALID_PARAMETER);
                                               return nullptr;
                                           }
                                           return ::LoadLibraryExW(name, file, flags);
                                       });
    wchar_t system[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetSystemDirectoryW(system, MAX_PATH));

    const HMODULE code = pw::LoadSystemLibrary(L"advapi32.dll");
    ASSERT_NE(nullptr, code);
    ::FreeLibrary(code);
    const HMODULE data = pw::LoadSystemLibrary(L"wininet.dll", LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, data);
    ::FreeLibrary(data);

    const std::wstring folder = std::wstring(system) + L"\\";
    EXPECT_EQ((std::vector<std::pair<std::wstring, DWORD>>{
                  {L"advapi32.dll", LOAD_LIBRARY_SEARCH_SYSTEM32},
                  {folder + L"advapi32.dll", LOAD_WITH_ALTERED_SEARCH_PATH},
                  {L"wininet.dll", LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_SEARCH_SYSTEM32},
                  {folder + L"wininet.dll", LOAD_LIBRARY_AS_DATAFILE},
              }),
              loads);
}
