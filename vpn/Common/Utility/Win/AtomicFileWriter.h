#pragma once

// Replaces one file in a folder that only trusted accounts may change, so that readers only ever
// see the old file or the new one, whole, and nothing else is left beside it:
// - the folders below the trusted base are created with CFileSecurity::kFolderSddl, or checked with
//   CFileSecurity::OpenTrustedFolder when they exist, and held open (pinned) until the file is in
//   place;
// - the bytes go to a new file under a random name (CREATE_NEW, no sharing, CFileSecurity::kFileSddl)
//   that is delete-pending while it is written, so that a process killed at any instant leaves
//   nothing behind; it is renamed over the target through its own handle, so that no one can open
//   it between its close and its rename;
// - temporary files left beside the target are removed: those of older versions, and those of runs
//   killed in the instant between creating the file and marking it, which no call of the platform
//   can do at once.
// Entries are logged on behalf of the function that the caller names.

#include <optional>
#include <string>
#include <vector>

#include "vpn/Common/Logging/ResultCodes.h"
#include "vpn/Common/Utility/Win/TrustedIdentities.h"
#include "vpn/Common/Platform/UniqueHandle.h"

class CAtomicFileWriter
{
public:
    // directory is joined to fileName without a separator, so it ends in a backslash; an empty
    // directory is refused. trustedBase, when given, is a folder that directory lies below and that
    // is used as it is (the common application data folder); without it every folder below the
    // drive is checked.
    CAtomicFileWriter(const char* logFunction, const std::wstring& directory, const std::wstring& fileName,
                      const std::wstring& trustedBase);

    // Replaces the file with bytes. 0, or the code of the failure, logged at level 'E'.
    [[nodiscard]] ResultCode write(const std::string& bytes);
    // After a write that failed because the target stayed in use: the processes that hold it
    // ("name (process id N), ..."), or an empty text when they cannot be told. Empty otherwise.
    const std::optional<std::string>& targetInUseBy() const { return m_inUseBy; }

    // Creates every missing folder of path that ends before a backslash, outermost first. Folders
    // below base (below the drive when base is empty) are created with CFileSecurity::kFolderSddl,
    // then opened with CFileSecurity::OpenTrustedFolder and kept open in folders; base and the
    // folders above it are used as they are. 0, or the code of the failure, logged: the Windows
    // error of a folder that could not be created, or the code of a refused folder with its reason.
    [[nodiscard]] static ResultCode createDirectoryPath(const char* logFunction, const std::wstring& path,
                                                        const std::wstring& base,
                                                        const CTrustedIdentities& trusted,
                                                        std::vector<CUniqueFileHandle>& folders);

private:
    void reportPlantedTarget(const std::wstring& target) const;
    void removeLeftovers() const;
    [[nodiscard]] bool createTemporaryFile(const std::wstring& target, CUniqueFileHandle& file,
                                           std::wstring& name) const;
    void deleteByName(CUniqueFileHandle& file, const std::wstring& name) const;
    [[nodiscard]] bool replaceTarget(CUniqueFileHandle& file, const std::wstring& target);

    const char* m_function;
    std::wstring m_directory;
    std::wstring m_fileName;
    std::wstring m_trustedBase;
    CTrustedIdentities m_trusted;
    std::optional<std::string> m_inUseBy;
};
