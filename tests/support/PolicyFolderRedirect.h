#pragma once

#include <string>

#include "ShellFolderOverride.h"
#include "TempDirectory.h"
#include "vpn/Common/Utility/InstanceSmartPtr.h"
#include "vpn/Common/Utility/StoragePath.h"

// Redirects the common application data folder, as the product asks the shell for it, to a fresh
// temporary directory, and holds a storage path reference for its lifetime. The policy manager
// then finds, writes and reads its policy file there instead of in the machine's real policy
// folder. Other special folders still come from the shell. One redirect at a time per process.
class PolicyFolderRedirect
{
public:
    // With leaf, the stand-in folder is that folder, created inside the temporary directory.
    explicit PolicyFolderRedirect(const std::wstring& leaf = std::wstring());
    ~PolicyFolderRedirect();
    PolicyFolderRedirect(const PolicyFolderRedirect&) = delete;
    PolicyFolderRedirect& operator=(const PolicyFolderRedirect&) = delete;

    // The stand-in common application data folder (no trailing backslash).
    const std::wstring& commonAppData() const { return m_folder; }
    // The local policy directory inside it, ending in a backslash (created only by a write).
    std::wstring policyDirectory() const;
    // Creates the local policy directory as an installer would, with the rights it inherits.
    bool createPolicyDirectory() const;
    // The full path of the local policy file.
    std::wstring policyFile() const;

private:
    TempDirectory m_root;
    std::wstring m_folder;
    ShellFolderOverride m_shellFolder;
    CInstanceSmartPtr<CStoragePath> m_storagePath;
};
