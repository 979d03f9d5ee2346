#include "vpn/Common/Utility/Win/FileSecurity.h"

#include <windows.h>
#include <sddl.h>

#include <vector>

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Utility/StringConvert.h"
#include "vpn/Common/Utility/Win/PlatformApi.h"

const wchar_t CFileSecurity::kFolderSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
const wchar_t CFileSecurity::kFileSddl[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";

namespace
{
constexpr char kFile[] = "FileSecurity";
constexpr char kBuildDescriptor[] = "CFileSecurity::BuildDescriptor";
constexpr char kOpenTrustedFolder[] = "CFileSecurity::OpenTrustedFolder";

// SYSTEM, Administrators and TrustedInstaller: only they, and the administrator running the tool,
// may own a folder that the agent trusts.
constexpr const wchar_t* kTrustedOwners[] = {
    L"S-1-5-18", L"S-1-5-32-544", L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};

void LogFolderFailure(int line, const char* invoked, DWORD error, const char* format,
                      const std::wstring& path)
{
    LogReturnCode(kOpenTrustedFolder, kFile, line, 'E', invoked, error, nullptr, format,
                  CNarrowText(path).c_str());
}

std::string SidText(PSID sid)
{
    LPWSTR text = nullptr;
    if (!pw::Api().ConvertSidToStringSidW(sid, &text))
    {
        return "(unknown)";
    }
    const CUniqueLocalMemory owned(text);
    const CNarrowText narrow(text);
    return narrow.c_str() != nullptr ? narrow.c_str() : "(unknown)";
}

// The SID of the user whose token the calling thread runs with, copied into user. The Windows
// error, or ERROR_SUCCESS.
DWORD GetCallerUser(std::vector<BYTE>& user)
{
    CUniqueKernelHandle token;
    if (!pw::Api().OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()))
    {
        const DWORD error = ::GetLastError();
        if (error != ERROR_NO_TOKEN)
        {
            return error;
        }
        if (!pw::Api().OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()))
        {
            return ::GetLastError();
        }
    }
    DWORD size = 0;
    if (!pw::Api().GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size))
    {
        const DWORD error = ::GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER)
        {
            return error;
        }
    }
    std::vector<BYTE> buffer(size);
    if (size == 0 || !pw::Api().GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
    {
        return size == 0 ? ERROR_INVALID_DATA : ::GetLastError();
    }
    const PSID sid = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
    const DWORD length = pw::Api().GetLengthSid(sid);
    user.assign(static_cast<const BYTE*>(sid), static_cast<const BYTE*>(sid) + length);
    return ERROR_SUCCESS;
}

// Sets trusted when owner is one of the trusted owners. The Windows error, or ERROR_SUCCESS.
DWORD IsTrustedOwner(PSID owner, bool& trusted)
{
    trusted = false;
    for (const wchar_t* text : kTrustedOwners)
    {
        CUniqueLocalMemory sid;
        if (!pw::Api().ConvertStringSidToSidW(text, sid.put()))
        {
            return ::GetLastError();
        }
        if (pw::Api().EqualSid(owner, sid.get()))
        {
            trusted = true;
            return ERROR_SUCCESS;
        }
    }
    std::vector<BYTE> user;
    const DWORD error = GetCallerUser(user);
    if (error != ERROR_SUCCESS)
    {
        return error;
    }
    trusted = pw::Api().EqualSid(owner, user.data()) != FALSE;
    return ERROR_SUCCESS;
}
} // namespace

ResultCode CFileSecurity::BuildDescriptor(const wchar_t* sddl, CUniqueLocalMemory& descriptor)
{
    if (!pw::Api().ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                        descriptor.put(), nullptr))
    {
        const DWORD error = ::GetLastError();
        PW_LOG_RETURN_CODE(kBuildDescriptor, 'E', "::ConvertStringSecurityDescriptorToSecurityDescriptor",
                           error, nullptr, "%s", CNarrowText(sddl).c_str());
        return error;
    }
    return GLOBAL_SUCCESS;
}

ResultCode CFileSecurity::OpenTrustedFolder(const std::wstring& path, CUniqueFileHandle& folder)
{
    // The link itself, not what it points to, so that a reparse point shows as one.
    folder.reset(pw::Api().CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder.valid())
    {
        const DWORD error = ::GetLastError();
        LogFolderFailure(__LINE__, "::CreateFile", error, "Cannot open folder %s", path);
        return error;
    }

    BY_HANDLE_FILE_INFORMATION information = {};
    if (!pw::Api().GetFileInformationByHandle(folder.get(), &information))
    {
        const DWORD error = ::GetLastError();
        LogFolderFailure(__LINE__, "::GetFileInformationByHandle", error,
                         "Cannot read the attributes of folder %s", path);
        folder.reset();
        return error;
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    {
        LogFolderFailure(
            __LINE__, kOpenTrustedFolder, ERROR_ACCESS_DENIED,
            "Refusing folder %s: it is a reparse point (a junction, symbolic link or mount point)", path);
        folder.reset();
        return ERROR_ACCESS_DENIED;
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    {
        LogFolderFailure(__LINE__, kOpenTrustedFolder, ERROR_ACCESS_DENIED,
                         "Refusing folder %s: it is not a folder", path);
        folder.reset();
        return ERROR_ACCESS_DENIED;
    }

    PSID owner = nullptr;
    CUniqueLocalMemory descriptor;
    const DWORD securityError =
        pw::Api().GetSecurityInfo(folder.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                  nullptr, nullptr, descriptor.put());
    if (securityError != ERROR_SUCCESS || owner == nullptr)
    {
        const DWORD error = securityError != ERROR_SUCCESS ? securityError : ERROR_INVALID_OWNER;
        LogFolderFailure(__LINE__, "::GetSecurityInfo", error, "Cannot read the owner of folder %s", path);
        folder.reset();
        return error;
    }

    bool trusted = false;
    const DWORD ownerError = IsTrustedOwner(owner, trusted);
    if (ownerError != ERROR_SUCCESS)
    {
        LogFolderFailure(__LINE__, "CFileSecurity::IsTrustedOwner", ownerError,
                         "Cannot check the owner of folder %s", path);
        folder.reset();
        return ownerError;
    }
    if (!trusted)
    {
        PW_LOG_RETURN_CODE(
            kOpenTrustedFolder, 'E', kOpenTrustedFolder, ERROR_ACCESS_DENIED, nullptr,
            "Refusing folder %s: its owner %s is not SYSTEM, Administrators, TrustedInstaller or "
            "the user running this tool",
            CNarrowText(path).c_str(), SidText(owner).c_str());
        folder.reset();
        return ERROR_ACCESS_DENIED;
    }
    return GLOBAL_SUCCESS;
}
