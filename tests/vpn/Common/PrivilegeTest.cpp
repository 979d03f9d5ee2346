#include "vpn/Common/Privilege.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "support/ApiOverride.h"
#include "support/LoggedEntry.h"
#include "support/OverrideSet.h"
#include "support/RecordingEventLog.h"
#include "support/ScopedImpersonation.h"
#include "vpn/Common/Platform/UniqueHandle.h"

namespace
{

constexpr DWORD kEnabledGroup = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;

// A well-known SID S-1-5-32-<alias>, owned by the test.
class CBuiltinSid
{
public:
    explicit CBuiltinSid(DWORD alias)
    {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        EXPECT_TRUE(
            ::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, alias, 0, 0, 0, 0, 0, 0, &m_sid));
    }
    ~CBuiltinSid() { ::FreeSid(m_sid); }
    CBuiltinSid(const CBuiltinSid&) = delete;
    CBuiltinSid& operator=(const CBuiltinSid&) = delete;
    PSID get() const { return m_sid; }

private:
    PSID m_sid = nullptr;
};

// Each group's SID, built once for the test program.
template <DWORD Alias>
const CBuiltinSid& Builtin()
{
    static CBuiltinSid sid(Alias);
    return sid;
}
const auto Administrators = Builtin<DOMAIN_ALIAS_RID_ADMINS>;
const auto PowerUsers = Builtin<DOMAIN_ALIAS_RID_POWER_USERS>;
const auto Users = Builtin<DOMAIN_ALIAS_RID_USERS>;
const auto Guests = Builtin<DOMAIN_ALIAS_RID_GUESTS>;

// Hands a crafted group list to the token group query for its lifetime; the real token is opened
// and closed.
class CCraftedTokenGroups
{
public:
    explicit CCraftedTokenGroups(const std::vector<SID_AND_ATTRIBUTES>& groups)
        : m_query(OverrideApi(
              &pw::PlatformApi::GetTokenInformation,
              [this](HANDLE, TOKEN_INFORMATION_CLASS cls, LPVOID out, DWORD length, PDWORD needed) -> BOOL
              {
                  EXPECT_EQ(TokenGroups, cls);
                  *needed = static_cast<DWORD>(m_buffer.size());
                  if (out == nullptr || length < m_buffer.size())
                  {
                      ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
                      return FALSE;
                  }
                  std::memcpy(out, m_buffer.data(), m_buffer.size());
                  return TRUE;
              }))
    {
        const size_t size = offsetof(TOKEN_GROUPS, Groups) + (groups.size() + 1) * sizeof(SID_AND_ATTRIBUTES);
        m_buffer.assign(size, 0);
        auto* list = reinterpret_cast<TOKEN_GROUPS*>(m_buffer.data());
        list->GroupCount = static_cast<DWORD>(groups.size());
        DWORD i = 0;
        for (const SID_AND_ATTRIBUTES& group : groups)
        {
            list->Groups[i++] = group;
        }
    }

private:
    std::vector<BYTE> m_buffer;
    ApiOverride<BOOL(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD)> m_query;
};

SID_AND_ATTRIBUTES Group(const CBuiltinSid& sid, DWORD attributes = kEnabledGroup)
{
    return {sid.get(), attributes};
}

CUniqueKernelHandle OpenOwnProcessToken()
{
    CUniqueKernelHandle token;
    EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(),
                                   TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY, token.put()));
    return token;
}

// Counts the token opens while calling the real functions, for its lifetime.
struct TokenOpenRecorder
{
    int threadOpens = 0;
    int processOpens = 0;
    DWORD threadAccess = 0;
    BOOL openAsSelf = FALSE;
    DWORD processAccess = 0;

    ApiOverride<BOOL(HANDLE, DWORD, BOOL, PHANDLE)> threadTokens =
        OverrideApi(&pw::PlatformApi::OpenThreadToken,
                    [this](HANDLE thread, DWORD access, BOOL asSelf, PHANDLE token)
                    {
                        ++threadOpens;
                        threadAccess = access;
                        openAsSelf = asSelf;
                        return ::OpenThreadToken(thread, access, asSelf, token);
                    });
    ApiOverride<BOOL(HANDLE, DWORD, PHANDLE)> processTokens =
        OverrideApi(&pw::PlatformApi::OpenProcessToken,
                    [this](HANDLE process, DWORD access, PHANDLE token)
                    {
                        ++processOpens;
                        processAccess = access;
                        return ::OpenProcessToken(process, access, token);
                    });
};

struct RatingCase
{
    const char* name;
    std::vector<SID_AND_ATTRIBUTES> (*groups)();
    int level;
};

class PrivilegeRating : public ::testing::TestWithParam<RatingCase>
{
};

} // namespace

TEST_P(PrivilegeRating, CraftedGroupsGiveTheLevel)
{
    CCraftedTokenGroups groups(GetParam().groups());
    EXPECT_EQ(GetParam().level, GetPrivilegeLevel());
}

// The fixed test order decides, not the order of the groups in the token.
INSTANTIATE_TEST_SUITE_P(
    TestOrder, PrivilegeRating,
    ::testing::Values(
        RatingCase{"AdministratorsAfterTheOthers",
                   [] {
                       return std::vector<SID_AND_ATTRIBUTES>{Group(Users()), Group(PowerUsers()),
                                                              Group(Administrators())};
                   },
                   3},
        RatingCase{
            "PowerUsersAfterUsers",
            [] {
                return std::vector<SID_AND_ATTRIBUTES>{Group(Guests()), Group(Users()), Group(PowerUsers())};
            },
            2},
        RatingCase{"UsersOnly",
                   [] {
                       return std::vector<SID_AND_ATTRIBUTES>{Group(Users()), Group(Guests())};
                   },
                   1},
        RatingCase{"NoneOfTheThree", [] { return std::vector<SID_AND_ATTRIBUTES>{Group(Guests())}; }, 0},
        RatingCase{"EmptyList", [] { return std::vector<SID_AND_ATTRIBUTES>{}; }, 0}),
    [](const ::testing::TestParamInfo<RatingCase>& info) { return std::string(info.param.name); });

// Regression: a group held only for deny checks (an administrator in a non-elevated prompt) was
// counted as present, so the tool passed its check and failed later, part-way.
INSTANTIATE_TEST_SUITE_P(
    DenyOnlyGroupsCountAsAbsent, PrivilegeRating,
    ::testing::Values(
        RatingCase{"DenyOnlyAdministrators",
                   []
                   {
                       return std::vector<SID_AND_ATTRIBUTES>{
                           Group(Administrators(), SE_GROUP_USE_FOR_DENY_ONLY | SE_GROUP_MANDATORY),
                           Group(Users())};
                   },
                   1},
        RatingCase{"EveryGroupDenyOnly",
                   []
                   {
                       return std::vector<SID_AND_ATTRIBUTES>{
                           Group(Administrators(), SE_GROUP_USE_FOR_DENY_ONLY),
                           Group(PowerUsers(), SE_GROUP_USE_FOR_DENY_ONLY),
                           Group(Users(), SE_GROUP_USE_FOR_DENY_ONLY)};
                   },
                   0},
        // Other attribute flags still do not matter: a group that is merely not enabled counts.
        RatingCase{"AdministratorsNotEnabled",
                   [] {
                       return std::vector<SID_AND_ATTRIBUTES>{Group(Users()), Group(Administrators(), 0)};
                   },
                   3}),
    [](const ::testing::TestParamInfo<RatingCase>& info) { return std::string(info.param.name); });

TEST(PrivilegeFailures, AllocationFailureIsLoggedAndGivesZero)
{
    RecordingEventLog log;
    HANDLE openedToken = nullptr;
    std::vector<HANDLE> closed;
    const OverrideSet noThreadToken = FailCalls(&pw::PlatformApi::OpenThreadToken, ERROR_NO_TOKEN, FALSE);
    const auto processToken = OverrideApi(&pw::PlatformApi::OpenProcessToken,
                                          [&](HANDLE process, DWORD access, PHANDLE token)
                                          {
                                              const BOOL ok = ::OpenProcessToken(process, access, token);
                                              openedToken = *token;
                                              return ok;
                                          });
    const auto closes = OverrideApi(&pw::PlatformApi::CloseHandle,
                                    [&](HANDLE h)
                                    {
                                        closed.push_back(h);
                                        return ::CloseHandle(h);
                                    });
    const auto noMemory =
        OverrideApi(&pw::PlatformApi::GlobalAlloc, [](UINT, SIZE_T) -> HGLOBAL { return nullptr; });

    EXPECT_EQ(0, GetPrivilegeLevel());

    EXPECT_EQ(std::vector<LoggedEntry>{Failure('E', "GetPrivilegeLevel", "Privilege", "GetPrivilegeLevel",
                                               0xFE000004u)},
              LoggedEntries(log));
    ASSERT_NE(nullptr, openedToken);
    EXPECT_EQ(std::vector<HANDLE>{openedToken}, closed);
}

TEST(PrivilegeFailures, TokenAndSidFailuresAreLoggedGiveZeroAndFreeTheBlock)
{
    RecordingEventLog log;
    CCraftedTokenGroups groups({Group(Users()), Group(Administrators())});
    int allocations = 0;
    int frees = 0;
    const auto countAllocations = OverrideApi(&pw::PlatformApi::GlobalAlloc,
                                              [&](UINT flags, SIZE_T size)
                                              {
                                                  ++allocations;
                                                  return ::GlobalAlloc(flags, size);
                                              });
    const auto countFrees = OverrideApi(&pw::PlatformApi::GlobalFree,
                                        [&](HGLOBAL block)
                                        {
                                            ++frees;
                                            return ::GlobalFree(block);
                                        });

    {
        // The size query fails for another reason than a short buffer: nothing is allocated.
        const OverrideSet sizeQueryFails =
            FailCalls(&pw::PlatformApi::GetTokenInformation, ERROR_ACCESS_DENIED, FALSE);
        EXPECT_EQ(0, GetPrivilegeLevel());
        EXPECT_EQ(0, allocations);
    }
    {
        // The size query reaches the crafted groups; the query for the list itself fails.
        const OverrideSet secondQueryFails = FailCalls(
            &pw::PlatformApi::GetTokenInformation, ERROR_INVALID_PARAMETER, FALSE,
            [](HANDLE, TOKEN_INFORMATION_CLASS, LPVOID out, DWORD, PDWORD) { return out != nullptr; });
        EXPECT_EQ(0, GetPrivilegeLevel());
        EXPECT_EQ(1, allocations);
        EXPECT_EQ(1, frees);
    }
    {
        // A SID that cannot be built ends the search, even with Users present.
        const OverrideSet noSid =
            FailCalls(&pw::PlatformApi::AllocateAndInitializeSid, ERROR_NOT_ENOUGH_MEMORY, FALSE);
        EXPECT_EQ(0, GetPrivilegeLevel());
        EXPECT_EQ(2, allocations);
        EXPECT_EQ(2, frees);
    }

    EXPECT_EQ(
        (std::vector<LoggedEntry>{
            Failure('E', "GetPrivilegeLevel", "Privilege", "::GetTokenInformation", ERROR_ACCESS_DENIED),
            Failure('E', "GetPrivilegeLevel", "Privilege", "::GetTokenInformation", ERROR_INVALID_PARAMETER),
            Failure('E', "GetPrivilegeLevel", "Privilege", "::AllocateAndInitializeSid",
                    ERROR_NOT_ENOUGH_MEMORY)}),
        LoggedEntries(log));
}

TEST(PrivilegeToken, WithoutImpersonationTheProcessTokenIsRated)
{
    TokenOpenRecorder opens;
    EXPECT_EQ(3, GetPrivilegeLevel()); // Wine's process token holds Administrators
    EXPECT_EQ(1, opens.threadOpens);
    EXPECT_EQ(static_cast<DWORD>(TOKEN_QUERY), opens.threadAccess);
    EXPECT_TRUE(opens.openAsSelf);
    EXPECT_EQ(1, opens.processOpens);
    EXPECT_EQ(static_cast<DWORD>(TOKEN_QUERY), opens.processAccess);
}

TEST(PrivilegeToken, AThreadTokenFailureOtherThanNoTokenGivesZero)
{
    bool processOpened = false;
    const OverrideSet threadTokenRefused =
        FailCalls(&pw::PlatformApi::OpenThreadToken, ERROR_ACCESS_DENIED, FALSE);
    const auto processTokens = OverrideApi(&pw::PlatformApi::OpenProcessToken,
                                           [&](HANDLE, DWORD, PHANDLE)
                                           {
                                               processOpened = true;
                                               return FALSE;
                                           });
    EXPECT_EQ(0, GetPrivilegeLevel());
    EXPECT_FALSE(processOpened);
}

TEST(PrivilegeToken, AnImpersonatingThreadIsRatedByItsOwnToken)
{
    CUniqueKernelHandle processToken = OpenOwnProcessToken();
    TokenOpenRecorder opens;
    {
        CScopedImpersonation impersonation(processToken.get());
        EXPECT_EQ(3, GetPrivilegeLevel());
    }
    EXPECT_EQ(1, opens.threadOpens);
    EXPECT_EQ(0, opens.processOpens);
}

// Regression: deny-only Administrators (UAC's non-elevated token) was rated as administrator.
TEST(PrivilegeToken, RestrictedTokenWithDenyOnlyAdministratorsIsNotAnAdministrator)
{
    const CUniqueKernelHandle restricted = NonElevatedToken();
    {
        CScopedImpersonation impersonation(restricted.get());
        EXPECT_EQ(1, GetPrivilegeLevel()); // Users remains
    }
    EXPECT_EQ(3, GetPrivilegeLevel());
}
