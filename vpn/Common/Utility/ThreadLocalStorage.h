#pragma once

// Owns one Windows thread-local storage slot for values of type T. A slot that could not be
// allocated is logged and reported by allocated(); the process keeps running without it.

#include <windows.h>

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Platform/PlatformApi.h"

template <class T>
class CThreadLocalStorage
{
public:
    CThreadLocalStorage()
    {
        m_index = pw::Api().TlsAlloc();
        if (m_index == TLS_OUT_OF_INDEXES)
        {
            const DWORD error = ::GetLastError();
            LogReturnCode(LogNames::ThreadLocalStorage::kConstruct, LogNames::ThreadLocalStorage::kFile,
                          __LINE__, 'E', LogNames::Invoked::kTlsAlloc, error, nullptr, nullptr);
        }
    }

    virtual ~CThreadLocalStorage()
    {
        if (allocated() && !pw::Api().TlsFree(m_index))
        {
            const DWORD error = ::GetLastError();
            LogReturnCode(LogNames::ThreadLocalStorage::kDestroy, LogNames::ThreadLocalStorage::kFile,
                          __LINE__, 'E', LogNames::Invoked::kTlsFree, error, nullptr, nullptr);
        }
    }

    CThreadLocalStorage(const CThreadLocalStorage&) = delete;
    CThreadLocalStorage& operator=(const CThreadLocalStorage&) = delete;

    bool allocated() const { return m_index != TLS_OUT_OF_INDEXES; }
    DWORD index() const { return m_index; }

private:
    DWORD m_index = TLS_OUT_OF_INDEXES;
};

// The process-wide slot for unsigned long values, created during static initialisation.
CThreadLocalStorage<unsigned long>& ProcessThreadLocalStorage();
