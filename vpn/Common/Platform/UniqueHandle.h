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

struct KernelHandleTraits // process, thread, token: null on failure
{
    using pointer = HANDLE;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { (void)pw::Api().CloseHandle(h); }
};

struct FileHandleTraits // CreateFileW: INVALID_HANDLE_VALUE on failure
{
    using pointer = HANDLE;
    static pointer invalid() { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) { (void)pw::Api().CloseHandle(h); }
};

// Buffers that the system allocates with LocalAlloc: message texts, and the security descriptors
// and SIDs of ConvertStringSecurityDescriptorToSecurityDescriptorW, GetSecurityInfo and
// ConvertStringSidToSidW.
struct LocalMemoryTraits
{
    using pointer = HLOCAL;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { (void)pw::Api().LocalFree(h); }
};

struct GlobalMemoryTraits
{
    using pointer = HGLOBAL;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { (void)pw::Api().GlobalFree(h); }
};

struct SidTraits // AllocateAndInitializeSid
{
    using pointer = PSID;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { (void)pw::Api().FreeSid(h); }
};

struct ServiceHandleTraits // OpenSCManagerW, OpenServiceW
{
    using pointer = SC_HANDLE;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { (void)pw::Api().CloseServiceHandle(h); }
};

struct ModuleTraits // LoadLibraryExW, for code or as a data file: null on failure
{
    using pointer = HMODULE;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { (void)pw::Api().FreeLibrary(h); }
};

// RegisterEventSourceA: null on failure. Callers store a returned INVALID_HANDLE_VALUE as empty.
struct EventSourceTraits
{
    using pointer = HANDLE;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { (void)pw::Api().DeregisterEventSource(h); }
};

struct FindHandleTraits // FindFirstFileW: INVALID_HANDLE_VALUE on failure
{
    using pointer = HANDLE;
    static pointer invalid() { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) { (void)pw::Api().FindClose(h); }
};

// RmStartSession gives a session number, any value of which may be valid; the holder marks "no
// session" with one that the Restart Manager does not hand out in practice.
struct RestartSessionTraits
{
    using pointer = DWORD;
    static pointer invalid() { return 0xFFFFFFFF; }
    static void close(pointer h) { (void)pw::Api().RmEndSession(h); }
};

struct RegistryKeyTraits // RegOpenKeyExW: the key stays null on failure
{
    using pointer = HKEY;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { (void)pw::Api().RegCloseKey(h); }
};

using CUniqueKernelHandle = CUniqueHandle<KernelHandleTraits>;
using CUniqueFileHandle = CUniqueHandle<FileHandleTraits>;
using CUniqueLocalMemory = CUniqueHandle<LocalMemoryTraits>;
using CUniqueGlobalMemory = CUniqueHandle<GlobalMemoryTraits>;
using CUniqueSid = CUniqueHandle<SidTraits>;
using CUniqueServiceHandle = CUniqueHandle<ServiceHandleTraits>;
using CUniqueModule = CUniqueHandle<ModuleTraits>;
using CUniqueEventSource = CUniqueHandle<EventSourceTraits>;
using CUniqueFindHandle = CUniqueHandle<FindHandleTraits>;
using CUniqueRestartSession = CUniqueHandle<RestartSessionTraits>;
using CUniqueRegistryKey = CUniqueHandle<RegistryKeyTraits>;

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
