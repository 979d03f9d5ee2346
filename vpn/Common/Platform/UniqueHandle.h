#pragma once

// Small owners of platform handles. Each holder's empty value is what the API returns on failure,
// so the result of an open can be stored directly and tested with valid().

#include <windows.h>

#include <utility>

#include "vpn/Common/Platform/PlatformApi.h"

template <typename Traits>
class CUniqueHandle
{
public:
    using pointer = typename Traits::pointer;

    CUniqueHandle() = default;
    explicit CUniqueHandle(pointer handle) : m_handle(handle) {}
    ~CUniqueHandle() { reset(); }
    CUniqueHandle(CUniqueHandle&& other) noexcept : m_handle(other.release()) {}
    CUniqueHandle& operator=(CUniqueHandle&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    CUniqueHandle(const CUniqueHandle&) = delete;
    CUniqueHandle& operator=(const CUniqueHandle&) = delete;

    pointer get() const { return m_handle; }
    bool valid() const { return m_handle != Traits::invalid(); }
    // For APIs that return the handle through an out-parameter.
    pointer* put()
    {
        reset();
        return &m_handle;
    }
    pointer release() { return std::exchange(m_handle, Traits::invalid()); }
    // Closes the held handle and keeps the caller's last error, so that a failure can be read after
    // the clean-up that it calls for.
    void reset(pointer handle = Traits::invalid())
    {
        if (valid())
        {
            const DWORD error = ::GetLastError();
            Traits::close(m_handle);
            ::SetLastError(error);
        }
        m_handle = handle;
    }

private:
    pointer m_handle = Traits::invalid();
};

// The traits of a handle that the table's entry Close releases and whose empty value is null.
template <typename Pointer, auto Close>
struct NullHandleTraits
{
    using pointer = Pointer;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { (void)(pw::Api().*Close)(h); }
};

// The same for a handle whose empty value is INVALID_HANDLE_VALUE.
template <auto Close>
struct InvalidHandleTraits
{
    using pointer = HANDLE;
    static pointer invalid() { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) { (void)(pw::Api().*Close)(h); }
};

// RmStartSession gives a session number, any value of which may be valid; the holder marks "no
// session" with one that the Restart Manager does not hand out in practice.
struct RestartSessionTraits
{
    using pointer = DWORD;
    static pointer invalid() { return 0xFFFFFFFF; }
    static void close(pointer h) { (void)pw::Api().RmEndSession(h); }
};

// Process, thread, token.
using CUniqueKernelHandle = CUniqueHandle<NullHandleTraits<HANDLE, &pw::PlatformApi::CloseHandle>>;
// CreateFileW.
using CUniqueFileHandle = CUniqueHandle<InvalidHandleTraits<&pw::PlatformApi::CloseHandle>>;
// Buffers that the system allocates with LocalAlloc: message texts, and the security descriptors
// and SIDs of ConvertStringSecurityDescriptorToSecurityDescriptorW, GetSecurityInfo and
// ConvertStringSidToSidW.
using CUniqueLocalMemory = CUniqueHandle<NullHandleTraits<HLOCAL, &pw::PlatformApi::LocalFree>>;
using CUniqueGlobalMemory = CUniqueHandle<NullHandleTraits<HGLOBAL, &pw::PlatformApi::GlobalFree>>;
// AllocateAndInitializeSid.
using CUniqueSid = CUniqueHandle<NullHandleTraits<PSID, &pw::PlatformApi::FreeSid>>;
// OpenSCManagerW, OpenServiceW.
using CUniqueServiceHandle = CUniqueHandle<NullHandleTraits<SC_HANDLE, &pw::PlatformApi::CloseServiceHandle>>;
// LoadLibraryExW, for code or as a data file.
using CUniqueModule = CUniqueHandle<NullHandleTraits<HMODULE, &pw::PlatformApi::FreeLibrary>>;
// RegisterEventSourceA. Callers store a returned INVALID_HANDLE_VALUE as empty.
using CUniqueEventSource = CUniqueHandle<NullHandleTraits<HANDLE, &pw::PlatformApi::DeregisterEventSource>>;
// FindFirstFileW.
using CUniqueFindHandle = CUniqueHandle<InvalidHandleTraits<&pw::PlatformApi::FindClose>>;
using CUniqueRestartSession = CUniqueHandle<RestartSessionTraits>;
// RegOpenKeyExW: the key stays null on failure.
using CUniqueRegistryKey = CUniqueHandle<NullHandleTraits<HKEY, &pw::PlatformApi::RegCloseKey>>;
// SysAllocString.
using CUniqueBstr = CUniqueHandle<NullHandleTraits<BSTR, &pw::PlatformApi::SysFreeString>>;

// Holds one reference to a COM object; releases it when destroyed. The holder takes over a
// reference that its creator already owns.
template <typename T>
class CComHolder
{
public:
    CComHolder() = default;
    explicit CComHolder(T* p) : m_p(p) {}
    ~CComHolder() { reset(); }
    CComHolder(CComHolder&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    CComHolder& operator=(CComHolder&& other) noexcept
    {
        reset(std::exchange(other.m_p, nullptr));
        return *this;
    }
    CComHolder(const CComHolder&) = delete;
    CComHolder& operator=(const CComHolder&) = delete;

    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    T** put()
    {
        reset();
        return &m_p;
    }
    void reset(T* p = nullptr)
    {
        if (m_p != nullptr)
        {
            m_p->Release();
        }
        m_p = p;
    }

private:
    T* m_p = nullptr;
};
