#include "vpn/Common/Utility/Win/FileSecurity.h"

#include <windows.h>

#include <sddl.h>

#include <utility>

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Platform/PlatformApi.h"
#include "vpn/Common/Platform/StringConvert.h"
#include "vpn/Common/Utility/Win/Various.h"

const wchar_t CFileSecurity::kFolderSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
const wchar_t CFileSecurity::kFileSddl[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";

namespace
{
using LogNames::FileSecurity::kFile;
namespace names = LogNames::FileSecurity;
constexpr const char* kBuildDescriptor = names::kBuildDescriptor;
constexpr const char* kOpenTrustedFolder = names::kOpenTrustedFolder;
// The folder check's entries, most of this file's.
constexpr const char* kFunction = kOpenTrustedFolder;

struct DangerousRight
{
    ACCESS_MASK mask;
    const char* name;
};
// The rights that let their holder remove or swap the folder or what is in it, or take it over.
constexpr DangerousRight kFolderRights[] = {
    {DELETE, "DELETE"},           {FILE_DELETE_CHILD, "FILE_DELETE_CHILD"},
    {WRITE_DAC, "WRITE_DAC"},     {WRITE_OWNER, "WRITE_OWNER"},
    {GENERIC_ALL, "GENERIC_ALL"},
};
// The rights that let their holder change a file's content, remove it, or take it over. Either
// FILE_WRITE_DATA or FILE_WRITE_ATTRIBUTES is enough to set a reparse point on the file, which turns
// it into a link to anywhere, and the file's sharing does not stop a change of its attributes.
constexpr DangerousRight kFileRights[] = {
    {FILE_WRITE_DATA, "FILE_WRITE_DATA"},
    {FILE_APPEND_DATA, "FILE_APPEND_DATA"},
    {FILE_WRITE_ATTRIBUTES, "FILE_WRITE_ATTRIBUTES"},
    {DELETE, "DELETE"},
    {WRITE_DAC, "WRITE_DAC"},
    {WRITE_OWNER, "WRITE_OWNER"},
    {GENERIC_WRITE, "GENERIC_WRITE"},
    {GENERIC_ALL, "GENERIC_ALL"},
};

// The owner and the DACL of an open file or folder; both point into descriptor.
struct OwnerAndDacl
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    CUniqueLocalMemory descriptor;

    // ERROR_SUCCESS, or the error of GetSecurityInfo (ERROR_INVALID_OWNER for an object without one).
    DWORD read(HANDLE object)
    {
        const DWORD error = pw::Api().GetSecurityInfo(object, SE_FILE_OBJECT,
                                                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                      &owner, nullptr, &dacl, nullptr, descriptor.put());
        return error != ERROR_SUCCESS ? error : owner == nullptr ? ERROR_INVALID_OWNER : ERROR_SUCCESS;
    }
};

// One class of information about an open file. The two small classes that the checks need are asked
// for instead of GetFileInformationByHandle, which also asks the volume for its serial number: that
// costs more than the whole rest of a check.
template <typename Information>
BOOL QueryInformation(HANDLE file, FILE_INFO_BY_HANDLE_CLASS type, Information& information)
{
    return pw::Api().GetFileInformationByHandleEx(file, type, &information, sizeof(information));
}

// Logs the refusal of a folder at level on behalf of the folder check; kUntrustedFolder.
ResultCode RefuseFolder(int line, char level, const char* format, const std::wstring& path)
{
    LogReturnCode(kOpenTrustedFolder, kFile, line, level, kOpenTrustedFolder, CFileSecurity::kUntrustedFolder,
                  nullptr, format, CNarrowText(path).c_str());
    return CFileSecurity::kUntrustedFolder;
}

// The names of the rights of the table in mask, or "" when it holds none.
template <size_t N>
std::string RightsIn(ACCESS_MASK mask, const DangerousRight (&rights)[N])
{
    std::string names;
    for (const DangerousRight& right : rights)
    {
        if ((mask & right.mask) != 0)
        {
            names += (names.empty() ? "" : ", ") + std::string(right.name);
        }
    }
    return names;
}

// The SID of an entry that grants access, or null for other entries (deny entries only refuse
// more, and audit entries do not stand in a DACL).
PSID GrantedSid(const ACE_HEADER* header, ACCESS_MASK& mask)
{
    switch (header->AceType)
    {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
    {
        // Both share one layout.
        const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
        mask = ace->Mask;
        return const_cast<DWORD*>(&ace->SidStart);
    }
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
    {
        // The two GUIDs are present only when their flags say so; the SID follows them.
        const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_OBJECT_ACE*>(header);
        mask = ace->Mask;
        const BYTE* sid = reinterpret_cast<const BYTE*>(&ace->ObjectType);
        if ((ace->Flags & ACE_OBJECT_TYPE_PRESENT) != 0)
        {
            sid += sizeof(GUID);
        }
        if ((ace->Flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) != 0)
        {
            sid += sizeof(GUID);
        }
        return const_cast<BYTE*>(sid);
    }
    default:
        return nullptr;
    }
}

// The first entry of a DACL that grants an untrusted account one of the rights on the object itself:
// "DOMAIN\name (SID) RIGHT, RIGHT" in grant, or empty when there is none. 0, or the error of an entry
// that cannot be read. A missing DACL is no entry: the callers tell it apart.
template <size_t N>
DWORD FindUntrustedGrant(PACL dacl, const CTrustedIdentities& trusted, const DangerousRight (&rights)[N],
                         std::string& grant)
{
    grant.clear();
    for (DWORD index = 0; dacl != nullptr && index < dacl->AceCount; ++index)
    {
        void* entry = nullptr;
        if (!pw::Api().GetAce(dacl, index, &entry) || entry == nullptr)
        {
            const DWORD error = ::GetLastError();
            return error != ERROR_SUCCESS ? error : ERROR_INVALID_ACL;
        }
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        // An inherit-only entry is handed down to what is created inside; it does not apply here.
        if ((header->AceFlags & INHERIT_ONLY_ACE) != 0)
        {
            continue;
        }
        ACCESS_MASK mask = 0;
        const PSID sid = GrantedSid(header, mask);
        if (sid == nullptr)
        {
            continue;
        }
        const std::string names = RightsIn(mask, rights);
        if (!names.empty() && !trusted.contains(sid))
        {
            grant = CTrustedIdentities::AccountText(sid) + " " + names;
            return ERROR_SUCCESS;
        }
    }
    return ERROR_SUCCESS;
}

// Refuses a DACL that gives an untrusted account a dangerous right on the folder itself. 0, or the
// code of the refusal, logged at level.
ResultCode CheckFolderRights(const std::wstring& path, PACL dacl, const CTrustedIdentities& trusted,
                             char level)
{
    if (dacl == nullptr)
    {
        return RefuseFolder(__LINE__, level, "Refusing folder %s: it has no DACL, so everyone may change it",
                            path);
    }
    std::string grant;
    PW_RETURN_IF_FAILED(LogNames::Invoked::kGetAce, FindUntrustedGrant(dacl, trusted, kFolderRights, grant),
                        "Cannot read the rights of folder %s", CNarrowText(path).c_str());
    if (!grant.empty())
    {
        PW_LOG_RETURN_CODE(kOpenTrustedFolder, level, kOpenTrustedFolder, CFileSecurity::kUntrustedFolder,
                           nullptr,
                           "Refusing folder %s: it grants %s; only SYSTEM, Administrators, "
                           "TrustedInstaller or the user running this tool may hold these rights",
                           CNarrowText(path).c_str(), grant.c_str());
        return CFileSecurity::kUntrustedFolder;
    }
    return GLOBAL_SUCCESS;
}
} // namespace

ResultCode CFileSecurity::BuildDescriptor(const wchar_t* sddl, CUniqueLocalMemory& descriptor)
{
    PW_RETURN_IF_WIN32_BOOL_FALSE_FOR(kBuildDescriptor, 'E',
                                      LogNames::Invoked::kConvertStringSecurityDescriptorToSecurityDescriptor,
                                      pw::Api().ConvertStringSecurityDescriptorToSecurityDescriptorW(
                                          sddl, SDDL_REVISION_1, descriptor.put(), nullptr),
                                      "%s", CNarrowText(sddl).c_str());
    return GLOBAL_SUCCESS;
}

ResultCode CFileSecurity::OpenTrustedFolder(const std::wstring& path, const CTrustedIdentities& trusted,
                                            CUniqueFileHandle& folder, char level)
{
    // The link itself, not what it points to, so that a reparse point shows as one. Listing access
    // makes the missing delete sharing count: a handle without data access pins nothing. It is
    // handed out only when the folder passed every check.
    folder.reset();
    CUniqueFileHandle opened(pw::Api().CreateFileW(
        path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY | FILE_TRAVERSE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!opened.valid())
    {
        return PW_LOG_LAST_ERROR(LogNames::Invoked::kCreateFile, "Cannot open folder %s",
                                 CNarrowText(path).c_str());
    }

    FILE_ATTRIBUTE_TAG_INFO attributes = {};
    PW_RETURN_IF_WIN32_BOOL_FALSE(LogNames::Invoked::kGetFileInformationByHandleEx,
                                  QueryInformation(opened.get(), FileAttributeTagInfo, attributes),
                                  "Cannot read the attributes of folder %s", CNarrowText(path).c_str());
    if ((attributes.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    {
        return RefuseFolder(
            __LINE__, level,
            "Refusing folder %s: it is a reparse point (a junction, symbolic link or mount point)", path);
    }
    if ((attributes.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    {
        return RefuseFolder(__LINE__, level, "Refusing folder %s: it is not a folder", path);
    }

    OwnerAndDacl security;
    PW_RETURN_IF_FAILED(LogNames::Invoked::kGetSecurityInfo, security.read(opened.get()),
                        "Cannot read the owner of folder %s", CNarrowText(path).c_str());
    if (!trusted.contains(security.owner))
    {
        PW_LOG_RETURN_CODE(
            kOpenTrustedFolder, level, kOpenTrustedFolder, kUntrustedFolder, nullptr,
            "Refusing folder %s: its owner %s is not SYSTEM, Administrators, TrustedInstaller or "
            "the user running this tool",
            CNarrowText(path).c_str(), CTrustedIdentities::SidText(security.owner).c_str());
        return kUntrustedFolder;
    }
    PW_RETURN_IF_FAILED_LOGGED(CheckFolderRights(path, security.dacl, trusted, level));
    folder = std::move(opened);
    return GLOBAL_SUCCESS;
}

ResultCode CFileSecurity::InspectFile(const char* function, const std::wstring& path, DWORD extraAccess,
                                      DWORD share, const CTrustedIdentities& trusted, FoundFile& found,
                                      CUniqueFileHandle& file)
{
    found = FoundFile();
    file.reset();
    CUniqueFileHandle opened(pw::Api().CreateFileW(
        path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES | extraAccess, share, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!opened.valid())
    {
        const DWORD error = LastErrorOfFailure();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        {
            return GLOBAL_SUCCESS;
        }
        if (IsFileInUse(error))
        {
            return error;
        }
        return PW_LOG_IF_FAILED_FOR(function, 'W', LogNames::Invoked::kCreateFile, error, "Cannot look at %s",
                                    CNarrowText(path).c_str());
    }
    FILE_ATTRIBUTE_TAG_INFO attributes = {};
    FILE_STANDARD_INFO standard = {};
    PW_RETURN_IF_WIN32_BOOL_FALSE_FOR(function, 'W', LogNames::Invoked::kGetFileInformationByHandleEx,
                                      QueryInformation(opened.get(), FileAttributeTagInfo, attributes) &&
                                          QueryInformation(opened.get(), FileStandardInfo, standard),
                                      "Cannot read the attributes of %s", CNarrowText(path).c_str());
    OwnerAndDacl security;
    PW_RETURN_IF_FAILED_FOR(function, 'W', LogNames::Invoked::kGetSecurityInfo, security.read(opened.get()),
                            "Cannot read the owner of %s", CNarrowText(path).c_str());
    std::string grant;
    PW_RETURN_IF_FAILED_FOR(function, 'W', LogNames::Invoked::kGetAce,
                            FindUntrustedGrant(security.dacl, trusted, kFileRights, grant),
                            "Cannot read the rights of %s", CNarrowText(path).c_str());
    found.exists = true;
    found.links = standard.NumberOfLinks;
    found.size = static_cast<ULONGLONG>(standard.EndOfFile.QuadPart);
    found.changeableBy = security.dacl == nullptr ? "Everyone (the file has no DACL)" : grant;
    found.directory = (attributes.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    found.reparsePoint = (attributes.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    found.trustedOwner = trusted.contains(security.owner);
    found.owner = CTrustedIdentities::SidText(security.owner);
    file = std::move(opened);
    return GLOBAL_SUCCESS;
}
