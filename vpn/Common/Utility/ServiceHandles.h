#pragma once

// The scoped handles of CServices. Each constructor opens its handle and logs a failed open;
// the destructor closes it.

#include <windows.h>

#include <string>

#include "vpn/Common/Utility/Services.h"
#include "vpn/Common/Utility/Win/UniqueHandle.h"

// The service control manager of the local machine, active database.
class CServices::CSCMHandle
{
public:
    explicit CSCMHandle(DWORD access);
    CSCMHandle(const CSCMHandle&) = delete;
    CSCMHandle& operator=(const CSCMHandle&) = delete;

    SC_HANDLE get() const { return m_handle.get(); }
    bool valid() const { return m_handle.valid(); }

private:
    CUniqueServiceHandle m_handle;
};

// One service, opened by name. exists() is false only when the open failed because there is no
// service of that name; that case is not logged.
class CServices::CServiceHandle
{
public:
    CServiceHandle(const CSCMHandle& manager, const std::wstring& serviceName, DWORD access);
    CServiceHandle(const CServiceHandle&) = delete;
    CServiceHandle& operator=(const CServiceHandle&) = delete;

    SC_HANDLE get() const { return m_handle.get(); }
    bool valid() const { return m_handle.valid(); }
    bool exists() const { return m_exists; }

private:
    CUniqueServiceHandle m_handle;
    bool m_exists = true;
};
