#include "vpn/Common/Utility/StoragePath.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "support/LoggedEntry.h"
#include "support/OverrideSet.h"
#include "support/PolicyFolderRedirect.h"
#include "support/RecordingEventLog.h"
#include "vpn/Common/Utility/InstanceSmartPtr.h"
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
    const OverrideSet noShell = FailCalls(&pw::PlatformApi::LoadLibraryExW, ERROR_MOD_NOT_FOUND, nullptr);
    EXPECT_EQ(L"", owner->GetMainPath());

    const std::vector<LoggedEntry> expected = {
        Failure('W', "CHModuleMgr::STLoadLibrary", "HModuleMgr", "LoadLibrary", ERROR_MOD_NOT_FOUND,
                "Unable to load Shell32.dll"),
        Message('W', "CStoragePath::GetMainPath", "StoragePath",
                "CSIDL value provided to CStoragePath::GetMainPath returned an empty string.")};
    EXPECT_EQ(expected, LoggedEntries(log));
}

namespace
{
struct Creation
{
    HANDLE go = nullptr;
    CStoragePath* instance = nullptr;
    ResultCode result = 0;
};

DWORD WINAPI CreateWhenReleased(LPVOID parameter)
{
    auto* creation = static_cast<Creation*>(parameter);
    ::WaitForSingleObject(creation->go, INFINITE);
    creation->result = CStoragePath::CreateSingletonInstance(creation->instance);
    return 0;
}
} // namespace

// Regression: the test for an existing instance and the registration of a new one were apart, so
// two first callers at once could both create one; one of them was then never counted. Released
// together, every caller must get the same instance and one reference each. A race shows only now
// and then, so the test runs many rounds.
TEST(StoragePathReferences, CallersThatCreateAtOnceShareOneInstance)
{
    constexpr int kThreads = 4;
    for (int round = 0; round < 200; ++round)
    {
        const HANDLE go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(nullptr, go);
        std::vector<Creation> creations(kThreads);
        std::vector<HANDLE> threads;
        for (Creation& creation : creations)
        {
            creation.go = go;
            threads.push_back(::CreateThread(nullptr, 0, CreateWhenReleased, &creation, 0, nullptr));
            ASSERT_NE(nullptr, threads.back());
        }
        ::SetEvent(go);
        ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0),
                  ::WaitForMultipleObjects(kThreads, threads.data(), TRUE, 120000));
        for (HANDLE thread : threads)
        {
            ::CloseHandle(thread);
        }
        ::CloseHandle(go);

        EXPECT_EQ(kThreads, CStoragePath::ReferenceCount()) << "round " << round;
        for (const Creation& creation : creations)
        {
            EXPECT_EQ(0u, creation.result);
            EXPECT_EQ(creations[0].instance, creation.instance) << "round " << round;
        }
        for (const Creation& creation : creations)
        {
            CStoragePath::ReleaseInstance(creation.instance);
        }
        ASSERT_EQ(nullptr, CStoragePath::GetInstance()) << "round " << round;
        if (HasFailure())
        {
            return;
        }
    }
}
