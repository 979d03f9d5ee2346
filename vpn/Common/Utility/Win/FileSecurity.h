#pragma once

// The rights of the product's machine-wide folders and files, and the test that decides whether
// an existing folder may hold them. The agent runs as SYSTEM and obeys what it finds there, so
// only SYSTEM and Administrators may change it; every user may read it.

#include <string>

#include "vpn/Common/Logging/ResultCodes.h"
#include "vpn/Common/Utility/Win/UniqueHandle.h"

class CFileSecurity
{
public:
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

    // Opens an existing folder and keeps it open in folder. The handle does not share delete
    // access, so while it is held the folder can be neither renamed nor removed and its path keeps
    // naming the folder that was checked. Refuses with ERROR_ACCESS_DENIED a reparse point
    // (junction, symbolic link, mount point), something that is not a folder, and a folder whose
    // owner is not SYSTEM, Administrators, TrustedInstaller or the caller's own user. Every failure
    // is logged at level 'E' with the folder and the reason.
    [[nodiscard]] static ResultCode OpenTrustedFolder(const std::wstring& path, CUniqueFileHandle& folder);
};
