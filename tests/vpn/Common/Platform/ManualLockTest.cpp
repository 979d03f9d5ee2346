#include "vpn/Common/Platform/ManualLock.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>

TEST(ManualLockCounting, UnlockWithoutLockDoesNothing)
{
    CManualLock lock;
    lock.unlock();
    EXPECT_EQ(0, lock.holdCount());
    lock.lock();
    lock.lock();
    EXPECT_EQ(2, lock.holdCount());
    lock.unlock();
    lock.unlock();
    lock.unlock();
    EXPECT_EQ(0, lock.holdCount());
}

TEST(ManualLockCounting, ScopedHolderUnlocksWhenAnExceptionPasses)
{
    CManualLock lock;
    try
    {
        CManualLock::CScopedLock hold(lock);
        EXPECT_EQ(1, lock.holdCount());
        throw std::runtime_error("leave the scope");
    }
    catch (const std::runtime_error&)
    {
    }
    EXPECT_EQ(0, lock.holdCount());
}

namespace
{
DWORD WINAPI LockAndUnlock(LPVOID parameter)
{
    auto* lock = static_cast<CManualLock*>(parameter);
    lock->lock();
    lock->unlock();
    return 0;
}
} // namespace

TEST(ManualLockCounting, HeldLockKeepsOtherThreadsOutUntilUnlocked)
{
    CManualLock lock;
    lock.lock();
    HANDLE thread = ::CreateThread(nullptr, 0, LockAndUnlock, &lock, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(thread, 100));
    lock.unlock();
    // Only a broken lock keeps the thread out now; the bound just keeps that from hanging the test.
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(thread, 120000));
    ::CloseHandle(thread);
}
