#include <gtest/gtest.h>

#include <windows.h>

#include "support/PolicyFolderRedirect.h"
#include "support/RecordingEventLog.h"
#include "vpn/Common/Utility/InstanceSmartPtr.h"
#include "vpn/Common/Utility/StoragePath.h"
#include "vpn/Common/Utility/Win/Various.h"

TEST(StoragePathReferences, NoInstanceBeforeCreationNorAfterTheLastRelease)
{
    EXPECT_EQ(nullptr, CStoragePath::GetInstance());
    EXPECT_EQ(0, CStoragePath::ReferenceCount());

    CStoragePath* first = nullptr;
    ASSERT_EQ(0u, CStoragePath::CreateSingletonInstance(first));
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(1, CStoragePath::ReferenceCount());

    CStoragePath* second = nullptr;
    ASSERT_EQ(0u, CStoragePath::CreateSingletonInstance(second));
    EXPECT_EQ(first, second);
    EXPECT_EQ(2, CStoragePath::ReferenceCount());

    CStoragePath* third = CStoragePath::GetInstance();
    EXPECT_EQ(first, third);
    EXPECT_EQ(3, CStoragePath::ReferenceCount());

    CStoragePath::ReleaseInstance(third);
    CStoragePath::ReleaseInstance(second);
    EXPECT_EQ(first, CStoragePath::GetInstance());
    CStoragePath::ReleaseInstance(first);
    CStoragePath::ReleaseInstance(first);

    EXPECT_EQ(0, CStoragePath::ReferenceCount());
    EXPECT_EQ(nullptr, CStoragePath::GetInstance());
    EXPECT_EQ(0, CStoragePath::ReferenceCount());

    // A new instance can be created after the old one is gone.
    CStoragePath* again = nullptr;
    ASSERT_EQ(0u, CStoragePath::CreateSingletonInstance(again));
    EXPECT_EQ(1, CStoragePath::ReferenceCount());
    CStoragePath::ReleaseInstance(again);
    EXPECT_EQ(nullptr, CStoragePath::GetInstance());
}

TEST(StoragePathReferences, SmartPointerGivesBackExactlyTheReferenceItHolds)
{
    CStoragePath* created = nullptr;
    ASSERT_EQ(0u, CStoragePath::CreateSingletonInstance(created));
    CInstanceSmartPtr<CStoragePath> owner(created);
    {
        CInstanceSmartPtr<CStoragePath> lookup(CStoragePath::GetInstance());
        EXPECT_EQ(created, lookup.get());
        EXPECT_EQ(2, CStoragePath::ReferenceCount());
    }
    EXPECT_EQ(1, CStoragePath::ReferenceCount());
}

TEST(StoragePathMainPath, IsTheCommonDataFolderFollowedByTheProductFolder)
{
    CStoragePath* created = nullptr;
    ASSERT_EQ(0u, CStoragePath::CreateSingletonInstance(created));
    CInstanceSmartPtr<CStoragePath> owner(created);

    const std::wstring folder = GetCSIDLPath(0x23);
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(L'\\', folder.back());
    EXPECT_EQ(folder + L"\\Veskar\\Veskar Pathweave Roamguard Client\\", owner->GetMainPath());
}

TEST(StoragePathMainPath, FollowsTheFolderTheShellGives)
{
    PolicyFolderRedirect redirect;
    CInstanceSmartPtr<CStoragePath> path(CStoragePath::GetInstance());
    ASSERT_NE(nullptr, path.get());
    EXPECT_EQ(redirect.policyDirectory(), path->GetMainPath());
}

TEST(StoragePathMainPath, ShellThatCannotBeLoadedGivesAnEmptyPathAndTwoEntries)
{
    CStoragePath* created = nullptr;
    ASSERT_EQ(0u, CStoragePath::CreateSingletonInstance(created));
    CInstanceSmartPtr<CStoragePath> owner(created);

    RecordingEventLog log;
    pw::Api().LoadLibraryExW = [](LPCWSTR, HANDLE, DWORD) -> HMODULE
    {
        ::SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    };
    EXPECT_EQ(L"", owner->GetMainPath());

    const auto entries = ParsedEntries(log);
    ASSERT_EQ(2u, entries.size());
    EXPECT_EQ(EVENTLOG_WARNING_TYPE, log.entries()[0].type);
    EXPECT_EQ("CHModuleMgr::STLoadLibrary", entries[0].function);
    EXPECT_EQ("HModuleMgr", entries[0].file);
    EXPECT_EQ("LoadLibrary", entries[0].invoked);
    EXPECT_EQ(ERROR_MOD_NOT_FOUND, entries[0].code);
    EXPECT_EQ("Unable to load Shell32.dll", entries[0].text);

    EXPECT_EQ(EVENTLOG_WARNING_TYPE, log.entries()[1].type);
    EXPECT_EQ("CStoragePath::GetMainPath", entries[1].function);
    EXPECT_EQ("StoragePath", entries[1].file);
    EXPECT_FALSE(entries[1].isReturnCode);
    EXPECT_EQ("CSIDL value provided to CStoragePath::GetMainPath returned an empty string.", entries[1].text);
}
