#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

#include "support/RecordingEventLog.h"
#include "vpn/Common/Utility/Win/Various.h"

namespace
{
HRESULT WINAPI FailingGetFolderPath(HWND, int, HANDLE, DWORD, LPWSTR)
{
    return E_FAIL;
}

HRESULT WINAPI SlashedGetFolderPath(HWND, int, HANDLE, DWORD, LPWSTR path)
{
    wcscpy(path, L"D:\\Data");
    return S_OK;
}

void ReplaceFolderFunction(FARPROC replacement)
{
    auto real = pw::Api().GetProcAddress;
    pw::Api().GetProcAddress = [real, replacement](HMODULE module, LPCSTR name) -> FARPROC
    {
        if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) != 0 && std::strcmp(name, "SHGetFolderPathW") == 0)
        {
            return replacement;
        }
        return real(module, name);
    };
}

std::wstring Environment(const wchar_t* name)
{
    wchar_t value[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, value, MAX_PATH);
    return std::wstring(value, length < MAX_PATH ? length : 0);
}

template <typename F>
FARPROC AsEntryPoint(F* function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}
} // namespace

TEST(CsidlPath, ShellFoldersComeWithoutATrailingBackslash)
{
    for (int csidl : {0x23, 0x26})
    {
        const std::wstring path = GetCSIDLPath(csidl);
        ASSERT_FALSE(path.empty()) << csidl;
        EXPECT_NE(L'\\', path.back()) << csidl;
    }
    ScopedPlatformApi api;
    ReplaceFolderFunction(AsEntryPoint(&SlashedGetFolderPath));
    EXPECT_EQ(L"D:\\Data", GetCSIDLPath(0x23));
}

TEST(CsidlPath, ProgramFilesFolderIsTheOneOfThisProcessArchitecture)
{
    // The agent is looked for under this folder. On 64-bit Windows a 32-bit process is given the
    // 32-bit program files folder and a 64-bit process the native one, so the shipped tool and its
    // 64-bit twin look in different places.
    const std::wstring folder = GetCSIDLPath(0x26);
#ifdef _WIN64
    EXPECT_EQ(Environment(L"ProgramW6432"), folder);
#else
    BOOL wow64 = FALSE;
    ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64));
    EXPECT_EQ(Environment(wow64 ? L"ProgramFiles(x86)" : L"ProgramFiles"), folder);
#endif
    EXPECT_FALSE(folder.empty());
}

TEST(CsidlPath, FailingShellCallIsLoggedWithTheCsidlAndGivesEmpty)
{
    RecordingEventLog log;
    ReplaceFolderFunction(AsEntryPoint(&FailingGetFolderPath));
    EXPECT_EQ(L"", GetCSIDLPath(0x23));

    const auto entries = ParsedEntries(log);
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(EVENTLOG_WARNING_TYPE, log.entries()[0].type);
    EXPECT_EQ("GetCSIDLPath", entries[0].function);
    EXPECT_EQ("Various", entries[0].file);
    EXPECT_EQ("SHGetFolderPath", entries[0].invoked);
    EXPECT_EQ("80004005", entries[0].hexCode);
    EXPECT_EQ("CSIDL value = 35l", entries[0].text);
}

TEST(CsidlPath, MissingEntryPointGivesEmpty)
{
    RecordingEventLog log;
    pw::Api().GetProcAddress = [](HMODULE, LPCSTR) -> FARPROC
    {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    };
    EXPECT_EQ(L"", GetCSIDLPath(0x23));
    ASSERT_EQ(1u, log.entries().size());
    EXPECT_EQ("CHModuleMgr::STGetProcAddress", ParsedEntries(log)[0].function);
}
