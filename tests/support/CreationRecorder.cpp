#include "CreationRecorder.h"

#include <sddl.h>

#include <cwchar>
#include <functional>

CreationRecorder::CreationRecorder()
    : m_createDirectory(OverrideApi(
          &pw::PlatformApi::CreateDirectoryW,
          [this, createDirectory = pw::Api().CreateDirectoryW](LPCWSTR path, LPSECURITY_ATTRIBUTES attributes)
          {
              RecordedCreation call;
              call.path = path;
              call.sddl = SddlOf(attributes);
              m_directories.push_back(call);
              return createDirectory(path, attributes);
          })),
      m_createFile(OverrideApi(&pw::PlatformApi::CreateFileW,
                               [this, createFile = pw::Api().CreateFileW](
                                   LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes,
                                   DWORD disposition, DWORD flags, HANDLE templateFile)
                               {
                                   RecordedCreation call;
                                   call.path = path;
                                   call.disposition = disposition;
                                   call.share = share;
                                   call.flags = flags;
                                   call.sddl = SddlOf(attributes);
                                   m_files.push_back(call);
                                   return createFile(path, access, share, attributes, disposition, flags,
                                                     templateFile);
                               }))
{
}

std::vector<RecordedCreation> CreationRecorder::files(DWORD disposition) const
{
    std::vector<RecordedCreation> selected;
    for (const RecordedCreation& call : m_files)
    {
        if (call.disposition == disposition)
        {
            selected.push_back(call);
        }
    }
    return selected;
}

std::string SddlOf(const SECURITY_ATTRIBUTES* attributes)
{
    if (attributes == nullptr || attributes->lpSecurityDescriptor == nullptr)
    {
        return "";
    }
    LPWSTR text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            attributes->lpSecurityDescriptor, SDDL_REVISION_1,
            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr))
    {
        return "(not convertible)";
    }
    const std::wstring wide = text;
    ::LocalFree(text);
    return std::string(wide.begin(), wide.end());
}

namespace
{
// GetSecurityInfo's answer for a descriptor given as SDDL.
DWORD ReportSddl(const std::wstring& sddl, PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                 PSECURITY_DESCRIPTOR* descriptor)
{
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, descriptor,
                                                                nullptr))
    {
        return ::GetLastError();
    }
    BOOL defaulted = FALSE;
    BOOL present = FALSE;
    if (owner != nullptr)
    {
        ::GetSecurityDescriptorOwner(*descriptor, owner, &defaulted);
    }
    if (dacl != nullptr)
    {
        ::GetSecurityDescriptorDacl(*descriptor, &present, dacl, &defaulted);
        if (!present)
        {
            *dacl = nullptr; // no DACL at all: everyone has every right
        }
    }
    if (group != nullptr)
    {
        *group = nullptr;
    }
    if (sacl != nullptr)
    {
        *sacl = nullptr;
    }
    return ERROR_SUCCESS;
}

const std::wstring kWriterDacl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
} // namespace

OwnerOverride OverrideSecurity(const std::wstring& sddl)
{
    return OverrideApi(&pw::PlatformApi::GetSecurityInfo,
                       [sddl](HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID* owner, PSID* group,
                              PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor)
                       { return ReportSddl(sddl, owner, group, dacl, sacl, descriptor); });
}

OwnerOverride OverrideFileOwner(const std::wstring& sid)
{
    return OverrideApi(&pw::PlatformApi::GetSecurityInfo,
                       [sid](HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID* owner,
                             PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) -> DWORD
                       {
                           BY_HANDLE_FILE_INFORMATION information = {};
                           if (::GetFileInformationByHandle(object, &information) &&
                               (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                           {
                               return ::GetSecurityInfo(object, type, what, owner, group, dacl, sacl,
                                                        descriptor);
                           }
                           return ReportSddl(L"O:" + sid + kWriterDacl, owner, group, dacl, sacl, descriptor);
                       });
}

OwnerOverride OverrideOwner(const std::wstring& sid)
{
    // With the rights that the writer gives its own folders.
    return OverrideSecurity(L"O:" + sid + kWriterDacl);
}

std::wstring FinalPathOf(HANDLE file)
{
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = ::GetFinalPathNameByHandleW(file, path, MAX_PATH, 0);
    return std::wstring(path, length < MAX_PATH ? length : 0);
}

bool EndsWith(const std::wstring& text, const std::wstring& suffix)
{
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

const CTrustedIdentities& CallerTrusted()
{
    static const CTrustedIdentities trusted = []
    {
        CTrustedIdentities loaded;
        return loaded.load() == GLOBAL_SUCCESS ? loaded : CTrustedIdentities();
    }();
    return trusted;
}

ApiOverride<BOOL(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD)> ReportAsReparsePoint(
    const std::wstring& suffix)
{
    return OverrideApi(&pw::PlatformApi::GetFileInformationByHandleEx,
                       [suffix](HANDLE file, FILE_INFO_BY_HANDLE_CLASS type, LPVOID information, DWORD size)
                       {
                           const BOOL done = ::GetFileInformationByHandleEx(file, type, information, size);
                           if (done && type == FileAttributeTagInfo && EndsWith(FinalPathOf(file), suffix))
                           {
                               static_cast<FILE_ATTRIBUTE_TAG_INFO*>(information)->FileAttributes |=
                                   FILE_ATTRIBUTE_REPARSE_POINT;
                           }
                           return done;
                       });
}

ApiOverride<DWORD(HANDLE, LPWSTR, DWORD, DWORD)> ReportLinkedElsewhere(const std::wstring& suffix)
{
    return OverrideApi(&pw::PlatformApi::GetFinalPathNameByHandleW,
                       [suffix](HANDLE file, LPWSTR path, DWORD size, DWORD flags)
                       {
                           const std::wstring elsewhere = L"\\\\?\\C:\\Users\\Public\\x" + suffix;
                           return EndsWith(FinalPathOf(file), suffix) && elsewhere.size() < size
                                      ? (std::wcscpy(path, elsewhere.c_str()),
                                         static_cast<DWORD>(elsewhere.size()))
                                      : ::GetFinalPathNameByHandleW(file, path, size, flags);
                       });
}

OwnerOverride OverrideSecurityOf(const std::wstring& suffix, const std::wstring& sddl)
{
    return OverrideApi(&pw::PlatformApi::GetSecurityInfo,
                       [suffix, sddl](HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION what,
                                      PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                      PSECURITY_DESCRIPTOR* descriptor) -> DWORD
                       {
                           if (EndsWith(FinalPathOf(object), suffix))
                           {
                               return ReportSddl(sddl, owner, group, dacl, sacl, descriptor);
                           }
                           return ::GetSecurityInfo(object, type, what, owner, group, dacl, sacl, descriptor);
                       });
}
