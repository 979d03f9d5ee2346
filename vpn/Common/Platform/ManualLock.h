#pragma once

// A critical section with a hold count. Unlock without a matching lock does nothing, and
// destruction releases every hold still taken before the section is deleted.

#include <windows.h>

class CManualLock
{
public:
    CManualLock();
    ~CManualLock();
    CManualLock(const CManualLock&) = delete;
    CManualLock& operator=(const CManualLock&) = delete;

    void lock();
    void unlock();
    int holdCount() const { return m_holdCount; }

    // Locks for the lifetime of the holder, also when an exception leaves the scope.
    class CScopedLock
    {
    public:
        explicit CScopedLock(CManualLock& lock) : m_lock(lock) { m_lock.lock(); }
        ~CScopedLock() { m_lock.unlock(); }
        CScopedLock(const CScopedLock&) = delete;
        CScopedLock& operator=(const CScopedLock&) = delete;

    private:
        CManualLock& m_lock;
    };

private:
    CRITICAL_SECTION m_section;
    long m_holdCount = 0;
};
