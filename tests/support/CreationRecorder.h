#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ApiOverride.h"
#include "vpn/Common/Utility/Win/TrustedIdentities.h"

// One CreateDirectoryW or CreateFileW call that the product made through the platform table.
struct RecordedCreation
{
    std::wstring path;
    DWORD disposition = 0; // CreateFileW only
    DWORD share = 0;       // CreateFileW only
    DWORD flags = 0;       // CreateFileW only
    std::string sddl;      // owner and DACL of the descriptor passed, or "" without one
};

// Records the folders and files the product creates or opens, with the security descriptor each
// call passes (as SDDL), and passes every call on to the table entry it replaced. Puts the two
// entries back when destroyed.
class CreationRecorder
{
public:
    CreationRecorder();
    CreationRecorder(const CreationRecorder&) = delete;
    CreationRecorder& operator=(const CreationRecorder&) = delete;

    const std::vector<RecordedCreation>& directories() const { return m_directories; }
    const std::vector<RecordedCreation>& files() const { return m_files; }
    // The CreateFileW calls with the given creation disposition.
    std::vector<RecordedCreation> files(DWORD disposition) const;

private:
    std::vector<RecordedCreation> m_directories;
    std::vector<RecordedCreation> m_files;
    // After the records, so that the entries are put back before the records go.
    ApiOverride<BOOL(LPCWSTR, LPSECURITY_ATTRIBUTES)> m_createDirectory;
    ApiOverride<HANDLE(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)> m_createFile;
};

// The owner and DACL of a security descriptor as SDDL; "" when there is none.
std::string SddlOf(const SECURITY_ATTRIBUTES* attributes);

using OwnerOverride = ApiOverride<DWORD(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*,
                                        PACL*, PSECURITY_DESCRIPTOR*)>;
// Makes GetSecurityInfo report the owner and DACL of sddl for every object it is asked about, for
// the lifetime of the returned object.
OwnerOverride OverrideSecurity(const std::wstring& sddl);
// The same with the owner sid (a string SID) and the DACL that the writer gives its folders.
OwnerOverride OverrideOwner(const std::wstring& sid);
// The owner sid for files only; folders report their real owner and rights.
OwnerOverride OverrideFileOwner(const std::wstring& sid);
// The path of an open file as Windows gives it, or "" when it cannot.
std::wstring FinalPathOf(HANDLE file);
bool EndsWith(const std::wstring& text, const std::wstring& suffix);
// The trusted identities of this process, loaded once.
const CTrustedIdentities& CallerTrusted();
// sddl for the files whose name ends in suffix; every other object reports what it really has.
OwnerOverride OverrideSecurityOf(const std::wstring& suffix, const std::wstring& sddl);
// The files and folders whose name ends in suffix are reported as reparse points (Wine makes none).
ApiOverride<BOOL(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD)> ReportAsReparsePoint(
    const std::wstring& suffix);
// The files and folders whose name ends in suffix are reported (GetFinalPathNameByHandleW) to lie at
// C:\Users\Public\x<suffix>, as if a link on their way led there (Wine makes no junctions).
ApiOverride<DWORD(HANDLE, LPWSTR, DWORD, DWORD)> ReportLinkedElsewhere(const std::wstring& suffix);
