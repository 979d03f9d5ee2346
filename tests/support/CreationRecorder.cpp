#include "CreationRecorder.h"

#include <sddl.h>

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
std::function<DWORD(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*, PACL*,
                    PSECURITY_DESCRIPTOR*)>
OwnerReport(const std::wstring& sid)
{
    return [sid](HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID* owner, PSID* group, PACL* dacl,
                 PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) -> DWORD
    {
        const std::wstring sddl = L"O:" + sid;
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, descriptor,
                                                                    nullptr))
        {
            return ::GetLastError();
        }
        BOOL defaulted = FALSE;
        ::GetSecurityDescriptorOwner(*descriptor, owner, &defaulted);
        if (group != nullptr)
        {
            *group = nullptr;
        }
        if (dacl != nullptr)
        {
            *dacl = nullptr;
        }
        if (sacl != nullptr)
        {
            *sacl = nullptr;
        }
        return ERROR_SUCCESS;
    };
}
} // namespace

OwnerOverride OverrideOwner(const std::wstring& sid)
{
    return OverrideApi(&pw::PlatformApi::GetSecurityInfo, OwnerReport(sid));
}
