#include "vpn/Common/Utility/ThreadLocalStorage.h"

#include <gtest/gtest.h>

#include "support/ApiOverride.h"
#include "support/LoggedEntry.h"
#include "support/OverrideSet.h"
#include "support/RecordingEventLog.h"

TEST(ThreadLocalStorage, ProcessSlotIsAllocatedAtStart)
{
    EXPECT_TRUE(ProcessThreadLocalStorage().allocated());
}

TEST(ThreadLocalStorage, AllocationFailureIsLoggedAndNothingIsFreed)
{
    RecordingEventLog log;
    int frees = 0;
    const OverrideSet noSlot =
        FailCalls(&pw::PlatformApi::TlsAlloc, ERROR_NOT_ENOUGH_MEMORY, TLS_OUT_OF_INDEXES);
    const auto countFrees = OverrideApi(&pw::PlatformApi::TlsFree,
                                        [&frees](DWORD)
                                        {
                                            ++frees;
                                            return TRUE;
                                        });
    {
        CThreadLocalStorage<unsigned long> slot;
        EXPECT_FALSE(slot.allocated());
    }
    EXPECT_EQ(0, frees) << "a slot that was never allocated is not freed";
    EXPECT_EQ(std::vector<LoggedEntry>{Failure('E', "CThreadLocalStorage<unsigned long>::CThreadLocalStorage",
                                               "ThreadLocalStorage", "::TlsAlloc", ERROR_NOT_ENOUGH_MEMORY)},
              LoggedEntries(log));
}

TEST(ThreadLocalStorage, FreeFailureIsLogged)
{
    RecordingEventLog log;
    DWORD freed = TLS_OUT_OF_INDEXES;
    const auto refuseFree = OverrideApi(&pw::PlatformApi::TlsFree,
                                        [&freed](DWORD index)
                                        {
                                            freed = index;
                                            ::TlsFree(index);
                                            ::SetLastError(ERROR_INVALID_PARAMETER);
                                            return FALSE;
                                        });
    DWORD allocated = TLS_OUT_OF_INDEXES;
    {
        CThreadLocalStorage<unsigned long> slot;
        ASSERT_TRUE(slot.allocated());
        allocated = slot.index();
    }
    EXPECT_EQ(allocated, freed);
    EXPECT_EQ(
        std::vector<LoggedEntry>{Failure('E', "CThreadLocalStorage<unsigned long>::~CThreadLocalStorage",
                                         "ThreadLocalStorage", "::TlsFree", ERROR_INVALID_PARAMETER)},
        LoggedEntries(log));
}
