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
//   killed in one of the two instants when the file is not marked: between its creation and its
//   mark, which no call of the platform can do at once, and between clearing the mark (a
//   delete-pending file cannot be renamed) and the rename.
// The rename asks for POSIX semantics, so that a reader that opened the target with delete sharing
// does not block it; where the volume or Windows does not have them, it is the classic rename.
// Entries are logged on behalf of the function that the caller names.

#include <string>
#include <vector>

#include "vpn/Common/Logging/ResultCodes.h"
#include "vpn/Common/Platform/UniqueHandle.h"
#include "vpn/Common/Utility/Win/TrustedIdentities.h"

// Why a write could not put the file in place, as far as the administrator can act on it.
struct TargetRefusal
{
    enum class Cause
    {
        None,          // the file was replaced, or the write failed for another reason
        InUse,         // another program holds the target: holders names them, or is empty
        FolderInPlace, // a folder or a link stands where the file belongs
        ReadOnly,      // the target has the read-only attribute
        AccessDenied,  // refused with no cause that shows: the target's rights
    };
    Cause cause = Cause::None;
    std::string holders; // "name (process id N), ..." for InUse, when the Restart Manager can tell
};

class CAtomicFileWriter
{
public:
    // directory is joined to fileName without a separator, so it ends in a backslash; an empty
    // directory is refused. trustedBase, when given, is a folder that directory lies below and that
    // is used as it is (the common application data folder); without it every folder below the
    // drive is checked. trusted are the identities that may own the folders and the file (copied).
    CAtomicFileWriter(const char* logFunction, const std::wstring& directory, const std::wstring& fileName,
                      const std::wstring& trustedBase, const CTrustedIdentities& trusted);

    // Replaces the file with bytes. 0, or the code of the failure (the Windows error of the call that
    // failed, where one did), logged at level 'E'. refusal, when given, receives why the target could
    // not be replaced, when that was the failure: a target in use (a sharing or lock violation, or a
    // refused access while the Restart Manager names a holder) is tried again for about a second; a
    // folder or a read-only file in its place is not.
    [[nodiscard]] ResultCode write(const std::string& bytes, TargetRefusal* refusal = nullptr);

    // Creates every missing folder of path that ends before a backslash, outermost first. Folders
    // below base (below the drive when base is empty) are created with CFileSecurity::kFolderSddl,
    // then opened with CFileSecurity::OpenTrustedFolder and kept open in folders; base and the
    // folders above it are used as they are. 0, or the code of the failure, logged: the Windows
    // error of a folder that could not be created, or the code of a refused folder with its reason.
    [[nodiscard]] static ResultCode createDirectoryPath(const char* logFunction, const std::wstring& path,
                                                        const std::wstring& base,
                                                        const CTrustedIdentities& trusted,
                                                        std::vector<CUniqueFileHandle>& folders);
    // Opens the same folders of path as createDirectoryPath, creating none, and keeps them open in
    // folders: a reader that holds them reads from the folders that were checked. 0; ERROR_PATH_NOT_FOUND,
    // not logged, when one of them does not exist; or the code of the failure, logged (a refused
    // folder at level).
    [[nodiscard]] static ResultCode openDirectoryPath(const char* logFunction, const std::wstring& path,
                                                      const std::wstring& base,
                                                      const CTrustedIdentities& trusted, char level,
                                                      std::vector<CUniqueFileHandle>& folders);

private:
    [[nodiscard]] static ResultCode walkDirectoryPath(const char* logFunction, const std::wstring& path,
                                                      const std::wstring& base,
                                                      const CTrustedIdentities& trusted, bool create,
                                                      char level, std::vector<CUniqueFileHandle>& folders);
    void reportPlantedTarget(const std::wstring& target) const;
    void removeLeftovers() const;
    [[nodiscard]] ResultCode createTemporaryFile(const std::wstring& target, CUniqueFileHandle& file,
                                                 std::wstring& name) const;
    void deleteByName(CUniqueFileHandle& file, const std::wstring& name) const;
    [[nodiscard]] ResultCode replaceTarget(CUniqueFileHandle& file, const std::wstring& target,
                                           TargetRefusal& refusal);

    const char* m_function;
    std::wstring m_directory;
    std::wstring m_fileName;
    std::wstring m_trustedBase;
    CTrustedIdentities m_trusted;
};
