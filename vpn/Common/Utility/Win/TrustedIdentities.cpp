#include "vpn/Common/Utility/Win/TrustedIdentities.h"

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Platform/PlatformApi.h"
#include "vpn/Common/Platform/StringConvert.h"
#include "vpn/Common/Platform/UniqueHandle.h"

namespace
{
// SYSTEM, Administrators and TrustedInstaller.
constexpr const wchar_t* kWellKnown[] = {L"S-1-5-18", L"S-1-5-32-544",
                                         L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};

std::vector<BYTE> CopySid(PSID sid)
{
    const DWORD length = pw::Api().GetLengthSid(sid);
    return std::vector<BYTE>(static_cast<const BYTE*>(sid), static_cast<const BYTE*>(sid) + length);
}

// The SID of the user whose token the calling thread runs with. The Windows error, or ERROR_SUCCESS.
DWORD GetCallerUser(std::vector<BYTE>& user)
{
    CUniqueKernelHandle token;
    if (!pw::Api().OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()))
    {
        const DWORD error = LastErrorOfFailure();
        if (error != ERROR_NO_TOKEN)
        {
            return error;
        }
        if (!pw::Api().OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()))
        {
            return LastErrorOfFailure();
        }
    }
    DWORD size = 0;
    if (!pw::Api().GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size))
    {
        const DWORD error = LastErrorOfFailure();
        if (error != ERROR_INSUFFICIENT_BUFFER)
        {
            return error;
        }
    }
    std::vector<BYTE> buffer(size);
    if (size == 0 || !pw::Api().GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
    {
        return size == 0 ? ERROR_INVALID_DATA : LastErrorOfFailure();
    }
    user = CopySid(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid);
    return user.empty() ? ERROR_INVALID_SID : ERROR_SUCCESS;
}
} // namespace

ResultCode CTrustedIdentities::load()
{
    m_sids.clear();
    for (const wchar_t* text : kWellKnown)
    {
        CUniqueLocalMemory sid;
        if (!pw::Api().ConvertStringSidToSidW(text, sid.put()))
        {
            return LastErrorOfFailure();
        }
        m_sids.push_back(CopySid(sid.get()));
        if (m_sids.back().empty())
        {
            return ERROR_INVALID_SID;
        }
    }
    std::vector<BYTE> user;
    const DWORD error = GetCallerUser(user);
    if (error != ERROR_SUCCESS)
    {
        m_sids.clear();
        return error;
    }
    m_sids.push_back(std::move(user));
    return GLOBAL_SUCCESS;
}

bool CTrustedIdentities::contains(PSID sid) const
{
    for (const std::vector<BYTE>& trusted : m_sids)
    {
        if (pw::Api().EqualSid(sid, const_cast<BYTE*>(trusted.data())))
        {
            return true;
        }
    }
    return false;
}

std::string CTrustedIdentities::SidText(PSID sid)
{
    CUniqueLocalMemory text;
    if (!pw::Api().ConvertSidToStringSidW(sid, reinterpret_cast<LPWSTR*>(text.put())))
    {
        return "(unknown)";
    }
    const CNarrowText narrow(static_cast<const wchar_t*>(text.get()));
    return narrow.c_str_or("(unknown)");
}

std::string CTrustedIdentities::AccountText(PSID sid)
{
    const std::string sidText = SidText(sid);
    wchar_t name[256] = {};
    wchar_t domain[256] = {};
    DWORD nameLength = 256;
    DWORD domainLength = 256;
    SID_NAME_USE use = SidTypeUnknown;
    if (!pw::Api().LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use))
    {
        return sidText;
    }
    const std::wstring account =
        domain[0] != L'\0' ? std::wstring(domain) + L'\\' + name : std::wstring(name);
    const CNarrowText narrow(account);
    return narrow.converted() ? std::string(narrow.c_str()) + " (" + sidText + ")" : sidText;
}
