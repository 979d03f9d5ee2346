#include <gtest/gtest.h>

#include "support/RecordingEventLog.h"
#include "vpn/Common/Utility/ThreadLocalStorage.h"

TEST(ThreadLocalStorage, ProcessSlotIsAllocatedAtStart)
{
    EXPECT_TRUE(ProcessThreadLocalStorage().allocated());
}

TEST(ThreadLocalStorage, AllocationAndFreeFailuresAreLogged)
{
    RecordingEventLog log;
    pw::Api().TlsAlloc = []() -> DWORD
    {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return TLS_OUT_OF_INDEXES;
    };
    {
        CThreadLocalStorage<unsigned long> slot;
        EXPECT_FALSE(slot.allocated());
    }
    // A slot that was never allocated is not freed.
    auto entries = ParsedEntries(log);
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ("CThreadLocalStorage<unsigned long>::CThreadLocalStorage", entries[0].function);
    EXPECT_EQ("::TlsAlloc", entries[0].invoked);
    EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY, entries[0].code);

    log.clear();
    pw::Api().TlsAlloc = pw::RealPlatformApi().TlsAlloc;
    DWORD freed = TLS_OUT_OF_INDEXES;
    pw::Api().TlsFree = [&freed](DWORD index)
    {
        freed = index;
        ::TlsFree(index);
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    };
    DWORD allocated = TLS_OUT_OF_INDEXES;
    {
        CThreadLocalStorage<unsigned long> slot;
        ASSERT_TRUE(slot.allocated());
        allocated = slot.index();
    }
    EXPECT_EQ(allocated, freed);
    entries = ParsedEntries(log);
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, log.entries()[0].type);
    EXPECT_EQ("CThreadLocalStorage<unsigned long>::~CThreadLocalStorage", entries[0].function);
    EXPECT_EQ("ThreadLocalStorage", entries[0].file);
    EXPECT_EQ("::TlsFree", entries[0].invoked);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, entries[0].code);
}
