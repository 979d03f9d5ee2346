#pragma once

// The rights of the product's machine-wide folders and files, and the tests that decide whether
// an existing folder may hold them and what an existing file may be trusted for. The agent runs as
// SYSTEM and obeys what it finds there, so only the trusted identities (CTrustedIdentities) may
// change it; every user may read it.

#include <string>

#include "vpn/Common/Logging/ResultCodes.h"
#include "vpn/Common/Platform/UniqueHandle.h"
#include "vpn/Common/Utility/Win/TrustedIdentities.h"

// What an existing file is, as seen through a handle to it (a link itself, not its target).
struct FoundFile
{
    bool exists = false;
    bool directory = false;
    bool reparsePoint = false;
    bool trustedOwner = false;
    std::string owner;  // the owner's SID as text
    DWORD links = 0;    // the names the file has (hard links)
    ULONGLONG size = 0; // bytes
    // An untrusted account that the DACL lets change the file, with those rights
    // ("BUILTIN\Users (S-1-5-32-545) FILE_WRITE_DATA"), or empty when none may.
    std::string changeableBy;
};

class CFileSecurity
{
public:
    // What OpenTrustedFolder gives for a folder that it looked at and does not trust.
    static constexpr ResultCode kUntrustedFolder = static_cast<ResultCode>(TRUST_E_SUBJECT_NOT_TRUSTED);

    // Owner Administrators; a protected DACL, so nothing is inherited from the parent: SYSTEM and
    // Administrators full control, Users read and execute (0x1200a9: list, traverse, read data,
    // attributes and rights). Every file and folder created inside inherits the same entries.
    static const wchar_t kFolderSddl[];
    // The same rights for one file. A file has nothing to pass on, so its entries carry no
    // inheritance flags; the DACL is protected so that entries inheritable from the folder it is
    // created in (an existing folder whose rights are left as they are) are not merged in.
    static const wchar_t kFileSddl[];

    // Builds a self-relative security descriptor from SDDL. 0, or the Windows error after logging.
    [[nodiscard]] static ResultCode BuildDescriptor(const wchar_t* sddl, CUniqueLocalMemory& descriptor);

    // Opens an existing folder and keeps it open in folder. The handle lists the folder and shares
    // no delete access, so while it is held the folder can be neither renamed nor removed and its
    // path keeps naming the folder that was checked; files inside can still be created and
    // replaced. Refuses with kUntrustedFolder a reparse point (junction, symbolic link, mount
    // point), something that is not a folder, a folder whose owner is not trusted, and a folder
    // whose DACL lets an untrusted account delete it or its children, or change its rights or
    // owner (DELETE, FILE_DELETE_CHILD, WRITE_DAC, WRITE_OWNER, GENERIC_ALL). Adding files and
    // subfolders is accepted: it is what the common application data folder hands down. Every
    // failure is logged with the folder and the reason: a refusal at level, any other (a denied open
    // or security read among them: the folder could not be judged) at 'E' with its own code.
    [[nodiscard]] static ResultCode OpenTrustedFolder(const std::wstring& path,
                                                      const CTrustedIdentities& trusted,
                                                      CUniqueFileHandle& folder, char level = 'E');

    // Looks at path without following a link, holding it open in file with READ_CONTROL,
    // FILE_READ_ATTRIBUTES and extraAccess, shared as share allows. 0 with found.exists false when
    // there is nothing there; 0 with found filled in; ERROR_SHARING_VIOLATION or
    // ERROR_LOCK_VIOLATION, not logged, when another opener holds the file for the moment (the
    // caller waits or passes it over); or the Windows error of a file that could not be looked at,
    // logged at level 'W' on behalf of function.
    [[nodiscard]] static ResultCode InspectFile(const char* function, const std::wstring& path,
                                                DWORD extraAccess, DWORD share,
                                                const CTrustedIdentities& trusted, FoundFile& found,
                                                CUniqueFileHandle& file);
};
