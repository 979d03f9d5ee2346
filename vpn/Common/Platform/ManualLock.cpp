#include "vpn/Common/Platform/ManualLock.h"

namespace
{
constexpr DWORD kSpinCount = 500;
}

CManualLock::CManualLock()
{
    // Cannot fail on Windows Vista and later.
    (void)::InitializeCriticalSectionAndSpinCount(&m_section, kSpinCount);
}

CManualLock::~CManualLock()
{
    while (m_holdCount > 0)
    {
        unlock();
    }
    ::DeleteCriticalSection(&m_section);
}

void CManualLock::lock()
{
    ::EnterCriticalSection(&m_section);
    ++m_holdCount;
}

void CManualLock::unlock()
{
    if (m_holdCount > 0)
    {
        --m_holdCount;
        ::LeaveCriticalSection(&m_section);
    }
}
