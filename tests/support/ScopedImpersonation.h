#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include "vpn/Common/Platform/UniqueHandle.h"

// Makes the calling thread impersonate a primary token until destroyed.
class CScopedImpersonation
{
public:
    explicit CScopedImpersonation(HANDLE primaryToken)
    {
        HANDLE duplicate = nullptr;
        EXPECT_TRUE(::DuplicateToken(primaryToken, SecurityImpersonation, &duplicate));
        m_token.reset(duplicate);
        m_active = ::SetThreadToken(nullptr, m_token.get()) != FALSE;
        EXPECT_TRUE(m_active);
    }
    ~CScopedImpersonation()
    {
        if (m_active)
        {
            ::RevertToSelf();
        }
    }
    CScopedImpersonation(const CScopedImpersonation&) = delete;
    CScopedImpersonation& operator=(const CScopedImpersonation&) = delete;

private:
    CUniqueKernelHandle m_token;
    bool m_active = false;
};

// The process token with Administrators for deny checks only, as a prompt that is not elevated has
// it: the only token without administrator rights that Wine can make.
inline CUniqueKernelHandle NonElevatedToken()
{
    CUniqueKernelHandle process;
    EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, process.put()));
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(sid);
    EXPECT_TRUE(::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize));
    SID_AND_ATTRIBUTES disable = {sid, 0};
    CUniqueKernelHandle restricted;
    EXPECT_TRUE(
        ::CreateRestrictedToken(process.get(), 0, 1, &disable, 0, nullptr, 0, nullptr, restricted.put()));
    return restricted;
}
