#include "vpn/Common/Privilege.h"

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Logging/ResultCodes.h"
#include "vpn/Common/Platform/PlatformApi.h"
#include "vpn/Common/Platform/UniqueHandle.h"

namespace
{

using LogNames::Privilege::kFile;
namespace names = LogNames::Privilege;
// Every entry of the privilege check carries its one function name.
constexpr const char* kFunction = names::kGetPrivilegeLevel;

enum class GroupSearch
{
    Present,
    Absent,
    Failed // the SID could not be built
};

GroupSearch FindBuiltinGroup(const TOKEN_GROUPS& groups, DWORD alias)
{
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    CUniqueSid sid;
    if (PW_LOG_IF_WIN32_BOOL_FALSE(LogNames::Invoked::kAllocateAndInitializeSid,
                                   pw::Api().AllocateAndInitializeSid(&ntAuthority, 2,
                                                                      SECURITY_BUILTIN_DOMAIN_RID, alias, 0,
                                                                      0, 0, 0, 0, 0, sid.put()),
                                   nullptr) != ERROR_SUCCESS)
    {
        return GroupSearch::Failed;
    }
    for (DWORD i = 0; i < groups.GroupCount; ++i)
    {
        // A deny-only group can only refuse access, never grant it.
        if ((groups.Groups[i].Attributes & SE_GROUP_USE_FOR_DENY_ONLY) != 0)
        {
            continue;
        }
        // FALSE is also the answer for SIDs that differ; only a last error tells a failure apart.
        ::SetLastError(ERROR_SUCCESS);
        if (pw::Api().EqualSid(groups.Groups[i].Sid, sid.get()))
        {
            return GroupSearch::Present;
        }
        if (::GetLastError() != ERROR_SUCCESS)
        {
            (void)PW_LOG_LAST_ERROR(LogNames::Invoked::kEqualSid, nullptr);
            return GroupSearch::Failed;
        }
    }
    return GroupSearch::Absent;
}

// The token of the thread when it impersonates, else the process's. ERROR_SUCCESS, or the error of
// the call that failed, logged.
DWORD OpenCallerToken(CUniqueKernelHandle& token)
{
    // Open-as-self: the check must not depend on what the impersonated account may do with the
    // thread object itself.
    if (pw::Api().OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()))
    {
        return ERROR_SUCCESS;
    }
    if (::GetLastError() != ERROR_NO_TOKEN)
    {
        return PW_LOG_LAST_ERROR(LogNames::Invoked::kOpenThreadToken, nullptr);
    }
    return PW_LOG_IF_WIN32_BOOL_FALSE(
        LogNames::Invoked::kOpenProcessToken,
        pw::Api().OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()), nullptr);
}

} // namespace

int GetPrivilegeLevel()
{
    CUniqueKernelHandle token;
    if (OpenCallerToken(token) != ERROR_SUCCESS)
    {
        return 0;
    }

    DWORD needed = 0;
    if (!pw::Api().GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &needed) &&
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    {
        (void)PW_LOG_LAST_ERROR(LogNames::Invoked::kGetTokenInformation, nullptr);
        return 0;
    }

    CUniqueGlobalMemory block(pw::Api().GlobalAlloc(GPTR, needed));
    if (!block.valid())
    {
        (void)PW_LOG_IF_FAILED(LogNames::Invoked::kGetPrivilegeLevel, GLOBAL_ERROR_MEMALLOC_FAILED, nullptr);
        return 0;
    }
    if (PW_LOG_IF_WIN32_BOOL_FALSE(
            LogNames::Invoked::kGetTokenInformation,
            pw::Api().GetTokenInformation(token.get(), TokenGroups, block.get(), needed, &needed),
            nullptr) != ERROR_SUCCESS)
    {
        return 0;
    }
    token.reset();

    const TOKEN_GROUPS& groups = *static_cast<const TOKEN_GROUPS*>(block.get());
    struct Rating
    {
        DWORD alias;
        int level;
    };
    const Rating ratings[] = {
        {DOMAIN_ALIAS_RID_ADMINS, 3}, {DOMAIN_ALIAS_RID_POWER_USERS, 2}, {DOMAIN_ALIAS_RID_USERS, 1}};
    for (const Rating& rating : ratings)
    {
        switch (FindBuiltinGroup(groups, rating.alias))
        {
        case GroupSearch::Present:
            return rating.level;
        case GroupSearch::Failed:
            return 0;
        case GroupSearch::Absent:
            break;
        }
    }
    return 0;
}
