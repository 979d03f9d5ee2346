#include "vpn/Common/Utility/Win/Various.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "support/LoggedEntry.h"
#include "support/RecordingEventLog.h"
#include "support/ShellFolderOverride.h"

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

std::wstring Environment(const wchar_t* name)
{
    wchar_t value[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, value, MAX_PATH);
    return std::wstring(value, length < MAX_PATH ? length : 0);
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
    const auto slashed = OverrideShellFolderFunction(&SlashedGetFolderPath);
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
    const auto failing = OverrideShellFolderFunction(&FailingGetFolderPath);
    EXPECT_EQ(L"", GetCSIDLPath(0x23));
    // "%ul" prints the number and the letter l; the entry has always read so.
    EXPECT_EQ(std::vector<LoggedEntry>{Failure('W', "GetCSIDLPath", "Various", "SHGetFolderPath", 0x80004005u,
                                               "CSIDL value = 35l")},
              LoggedEntries(log));
}

TEST(CsidlPath, MissingEntryPointGivesEmpty)
{
    RecordingEventLog log;
    const auto hidden = OverrideShellFolderFunction(nullptr);
    EXPECT_EQ(L"", GetCSIDLPath(0x23));
    EXPECT_EQ(std::vector<LoggedEntry>{Failure('W', "CHModuleMgr::STGetProcAddress", "HModuleMgr",
                                               "GetProcAddress", ERROR_PROC_NOT_FOUND,
                                               "Unable to obtain entry point SHGetFolderPathW")},
              LoggedEntries(log));
}
