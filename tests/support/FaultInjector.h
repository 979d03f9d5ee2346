#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "vpn/Common/Platform/PlatformApi.h"

// Wraps every entry of the platform table for its lifetime and puts the whole table back when it
// ends. Each call through the table is counted; the one whose index (from 0) is failAt returns its
// entry's failure value with a plausible last error instead of reaching the entry below. A call
// that releases something (CloseHandle, FreeLibrary, LocalFree, ...) still releases it and only
// reports the failure; Sleep, CoUninitialize and SysFreeString, which cannot fail, always pass on, and
// a failed GetTickCount64 reads the real clock. A failed SleepEx returns at once, as a wait whose time
// is up does.
//
// It also keeps a ledger of what the calls acquired and released: handles, find handles, modules,
// event sources, service handles, COM initialisations, LocalAlloc and GlobalAlloc blocks, SIDs,
// Restart Manager sessions and the strings of SysAllocString. Entries installed before the injector
// (fakes, recorders) are wrapped too, so their calls count like the real ones.
class FaultInjector
{
public:
    explicit FaultInjector(long failAt = -1);
    ~FaultInjector();
    FaultInjector(const FaultInjector&) = delete;
    FaultInjector& operator=(const FaultInjector&) = delete;

    // The entries called, in order.
    const std::vector<const char*>& calls() const { return m_calls; }
    // The entry whose call was failed; null while none was.
    const char* failed() const { return m_failed; }
    // What was acquired and not released ("+1 handle 0x...") and what was released more often than
    // acquired ("-1 ..."): empty when every acquisition was released once.
    std::vector<std::string> unbalanced() const;

    // For the wrappers: records a call of entry and tells whether it is the one to fail.
    bool enter(const char* entry);
    void acquire(const char* kind, const void* what) { ++m_held[{kind, what}]; }
    void release(const char* kind, const void* what) { --m_held[{kind, what}]; }
    bool holds(const char* kind, const void* what) const
    {
        const auto found = m_held.find({kind, what});
        return found != m_held.end() && found->second > 0;
    }

private:
    pw::PlatformApi m_saved;
    long m_failAt;
    const char* m_failed = nullptr;
    std::vector<const char*> m_calls;
    std::map<std::pair<std::string, const void*>, long> m_held;
};
