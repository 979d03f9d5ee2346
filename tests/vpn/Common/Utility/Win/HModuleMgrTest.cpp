#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "support/RecordingEventLog.h"
#include "vpn/Common/Utility/Win/HModuleMgr.h"

TEST(HModuleMgrLoad, FailureCodeDependsOnTheErrorAndIsLogged)
{
    RecordingEventLog log;
    DWORD error = ERROR_SHARING_VIOLATION;
    pw::Api().LoadLibraryExW = [&error](LPCWSTR, HANDLE, DWORD) -> HMODULE
    {
        ::SetLastError(error);
        return nullptr;
    };
    CHModuleMgr module;
    EXPECT_EQ(GLOBAL_ERROR_BAD_HANDLE, module.STLoadLibrary(L"busy.dll"));
    error = ERROR_MOD_NOT_FOUND;
    EXPECT_EQ(GLOBAL_ERROR_NOT_INITIALIZED, module.STLoadLibrary(L"absent.dll"));
    EXPECT_EQ(nullptr, module.get());
    EXPECT_EQ(GLOBAL_ERROR_BAD_PARAMETER, module.STLoadLibrary(nullptr));

    const auto entries = ParsedEntries(log);
    ASSERT_EQ(2u, entries.size());
    EXPECT_EQ(ERROR_SHARING_VIOLATION, entries[0].code);
    EXPECT_EQ("Unable to load busy.dll", entries[0].text);
    EXPECT_EQ(EVENTLOG_WARNING_TYPE, log.entries()[1].type);
    EXPECT_EQ("CHModuleMgr::STLoadLibrary", entries[1].function);
    EXPECT_EQ("LoadLibrary", entries[1].invoked);
    EXPECT_EQ(ERROR_MOD_NOT_FOUND, entries[1].code);
}

TEST(HModuleMgrLoad, SearchesTheSystemFolderOnly)
{
    // Regression: a plain load searched the program's folder first, where anyone may plant a DLL.
    ScopedPlatformApi api;
    std::vector<DWORD> flags;
    auto load = pw::Api().LoadLibraryExW;
    pw::Api().LoadLibraryExW = [&flags, load](LPCWSTR name, HANDLE file, DWORD how)
    {
        flags.push_back(how);
        return load(name, file, how);
    };
    CHModuleMgr module;
    ASSERT_EQ(0u, module.STLoadLibrary(L"Shell32.dll"));
    EXPECT_NE(nullptr, module.get());
    EXPECT_EQ(std::vector<DWORD>{LOAD_LIBRARY_SEARCH_SYSTEM32}, flags);
}

TEST(HModuleMgrLoad, LoadingAgainFreesTheModuleHeldBefore)
{
    ScopedPlatformApi api;
    std::vector<HMODULE> freed;
    pw::Api().FreeLibrary = [&freed](HMODULE module)
    {
        freed.push_back(module);
        return ::FreeLibrary(module);
    };
    CHModuleMgr module;
    ASSERT_EQ(0u, module.STLoadLibrary(L"Shell32.dll"));
    const HMODULE first = module.get();
    ASSERT_EQ(0u, module.STLoadLibrary(L"Shell32.dll"));
    ASSERT_EQ(1u, freed.size());
    EXPECT_EQ(first, freed[0]);
    EXPECT_EQ(0u, module.STFreeLibrary());
    EXPECT_EQ(nullptr, module.get());
    EXPECT_EQ(0u, module.STFreeLibrary());
    EXPECT_EQ(2u, freed.size());
}

TEST(HModuleMgrEntryPoint, NeedsAModuleAndANameAndLogsAMissingEntry)
{
    RecordingEventLog log;
    CHModuleMgr module;
    FARPROC address = reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&log));
    EXPECT_EQ(GLOBAL_ERROR_UNEXPECTED, module.STGetProcAddress("SHGetFolderPathW", address));

    ASSERT_EQ(0u, module.STLoadLibrary(L"Shell32.dll"));
    EXPECT_EQ(GLOBAL_ERROR_BAD_PARAMETER, module.STGetProcAddress(nullptr, address));
    EXPECT_EQ(GLOBAL_ERROR_NULL_POINTER, module.STGetProcAddress("NoSuchEntryPoint", address));
    EXPECT_EQ(nullptr, address);
    EXPECT_EQ(0u, module.STGetProcAddress("SHGetFolderPathW", address));
    EXPECT_NE(nullptr, address);

    const auto entries = ParsedEntries(log);
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(EVENTLOG_WARNING_TYPE, log.entries()[0].type);
    EXPECT_EQ("CHModuleMgr::STGetProcAddress", entries[0].function);
    EXPECT_EQ("HModuleMgr", entries[0].file);
    EXPECT_EQ("GetProcAddress", entries[0].invoked);
    EXPECT_EQ(ERROR_PROC_NOT_FOUND, entries[0].code);
    EXPECT_EQ("Unable to obtain entry point NoSuchEntryPoint", entries[0].text);
}

TEST(HModuleMgrFree, FailureKeepsTheHandleAndIsLogged)
{
    CHModuleMgr module; // destroyed after the real table is back, so it frees for real
    RecordingEventLog log;
    ASSERT_EQ(0u, module.STLoadLibrary(L"Shell32.dll"));
    pw::Api().FreeLibrary = [](HMODULE)
    {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    };
    const HMODULE held = module.get();
    EXPECT_EQ(GLOBAL_ERROR_UNEXPECTED, module.STFreeLibrary());
    EXPECT_EQ(held, module.get());

    const auto entries = ParsedEntries(log);
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, log.entries()[0].type);
    EXPECT_EQ("CHModuleMgr::STFreeLibrary", entries[0].function);
    EXPECT_EQ("FreeLibrary", entries[0].invoked);
    EXPECT_EQ(ERROR_INVALID_HANDLE, entries[0].code);
    EXPECT_EQ("", entries[0].text);
}
