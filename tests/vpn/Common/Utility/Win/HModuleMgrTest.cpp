#include "vpn/Common/Utility/Win/HModuleMgr.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "support/ApiOverride.h"
#include "support/LoggedEntry.h"
#include "support/RecordingEventLog.h"

namespace
{
// Frees for real and records each module freed.
ApiOverride<BOOL(HMODULE)> RecordFrees(std::vector<HMODULE>& freed)
{
    return OverrideApi(&pw::PlatformApi::FreeLibrary,
                       [&freed](HMODULE module)
                       {
                           freed.push_back(module);
                           return ::FreeLibrary(module);
                       });
}
} // namespace

TEST(HModuleMgrLoad, FailureCodeDependsOnTheErrorAndIsLogged)
{
    RecordingEventLog log;
    DWORD error = ERROR_SHARING_VIOLATION;
    const auto refuse = OverrideApi(&pw::PlatformApi::LoadLibraryExW,
                                    [&error](LPCWSTR, HANDLE, DWORD) -> HMODULE
                                    {
                                        ::SetLastError(error);
                                        return nullptr;
                                    });
    CHModuleMgr module;
    EXPECT_EQ(GLOBAL_ERROR_BAD_HANDLE, module.STLoadLibrary(L"busy.dll"));
    error = ERROR_MOD_NOT_FOUND;
    EXPECT_EQ(GLOBAL_ERROR_NOT_INITIALIZED, module.STLoadLibrary(L"absent.dll"));
    EXPECT_EQ(nullptr, module.get());
    EXPECT_EQ(GLOBAL_ERROR_BAD_PARAMETER, module.STLoadLibrary(nullptr));

    EXPECT_EQ((std::vector<LoggedEntry>{
                  Failure('W', "CHModuleMgr::STLoadLibrary", "HModuleMgr", "LoadLibrary",
                          ERROR_SHARING_VIOLATION, "Unable to load busy.dll"),
                  Failure('W', "CHModuleMgr::STLoadLibrary", "HModuleMgr", "LoadLibrary", ERROR_MOD_NOT_FOUND,
                          "Unable to load absent.dll"),
              }),
              LoggedEntries(log));
}

TEST(HModuleMgrLoad, SearchesTheSystemFolderOnly)
{
    // Regression: a plain load searched the program's folder first, where anyone may plant a DLL.
    std::vector<DWORD> flags;
    const auto load =
        OverrideApi(&pw::PlatformApi::LoadLibraryExW,
                    [&flags, real = pw::Api().LoadLibraryExW](LPCWSTR name, HANDLE file, DWORD how)
                    {
                        flags.push_back(how);
                        return real(name, file, how);
                    });
    CHModuleMgr module;
    ASSERT_EQ(0u, module.STLoadLibrary(L"Shell32.dll"));
    EXPECT_NE(nullptr, module.get());
    EXPECT_EQ(std::vector<DWORD>{LOAD_LIBRARY_SEARCH_SYSTEM32}, flags);
}

TEST(HModuleMgrLoad, LoadingAgainFreesTheModuleHeldBefore)
{
    std::vector<HMODULE> freed;
    const auto unload = RecordFrees(freed);
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

TEST(HModuleMgrLoad, DestructionFreesTheModuleOnce)
{
    std::vector<HMODULE> freed;
    const auto unload = RecordFrees(freed);
    HMODULE held = nullptr;
    {
        CHModuleMgr module;
        ASSERT_EQ(0u, module.STLoadLibrary(L"Shell32.dll"));
        held = module.get();
    }
    EXPECT_EQ(std::vector<HMODULE>{held}, freed);
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

    EXPECT_EQ(std::vector<LoggedEntry>{Failure('W', "CHModuleMgr::STGetProcAddress", "HModuleMgr",
                                               "GetProcAddress", ERROR_PROC_NOT_FOUND,
                                               "Unable to obtain entry point NoSuchEntryPoint")},
              LoggedEntries(log));
}

// A module that cannot be freed.
class HModuleMgrFree : public ::testing::Test
{
protected:
    RecordingEventLog log;
    int attempts = 0;
    ApiOverride<BOOL(HMODULE)> refuse = OverrideApi(&pw::PlatformApi::FreeLibrary,
                                                    [this](HMODULE)
                                                    {
                                                        ++attempts;
                                                        ::SetLastError(ERROR_INVALID_HANDLE);
                                                        return FALSE;
                                                    });
    const LoggedEntry refused =
        Failure('E', "CHModuleMgr::STFreeLibrary", "HModuleMgr", "FreeLibrary", ERROR_INVALID_HANDLE);
};

TEST_F(HModuleMgrFree, FailureKeepsTheHandleAndIsLogged)
{
    CHModuleMgr module;
    ASSERT_EQ(0u, module.STLoadLibrary(L"Shell32.dll"));
    const HMODULE held = module.get();
    EXPECT_EQ(GLOBAL_ERROR_UNEXPECTED, module.STFreeLibrary());
    EXPECT_EQ(held, module.get());
    EXPECT_EQ(std::vector<LoggedEntry>{refused}, LoggedEntries(log));

    // The real table frees the module for good.
    EXPECT_EQ(0u,
              [&]
              {
                  const auto real =
                      OverrideApi(&pw::PlatformApi::FreeLibrary, [](HMODULE m) { return ::FreeLibrary(m); });
                  return module.STFreeLibrary();
              }());
    EXPECT_EQ(nullptr, module.get());
}

TEST_F(HModuleMgrFree, OnLoadingAgainAndOnDestructionTheFailureIsLoggedAndTheHandleGivenUp)
{
    {
        CHModuleMgr module;
        ASSERT_EQ(0u, module.STLoadLibrary(L"Shell32.dll"));
        ASSERT_EQ(0u, module.STLoadLibrary(L"Shell32.dll"));
        EXPECT_EQ(1, attempts);
    }
    EXPECT_EQ(2, attempts) << "one attempt for each module held";
    EXPECT_EQ((std::vector<LoggedEntry>{refused, refused}), LoggedEntries(log));
}
