#include "vpn/Common/Utility/Win/AtomicFileWriter.h"

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <new>

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Platform/PlatformApi.h"
#include "vpn/Common/Platform/StringConvert.h"
#include "vpn/Common/Utility/Win/FileHolders.h"
#include "vpn/Common/Utility/Win/FileSecurity.h"
#include "vpn/Common/Utility/Win/Various.h"

namespace
{
using LogNames::AtomicFileWriter::kFile;
namespace names = LogNames::AtomicFileWriter;
constexpr char kCreateFolderFailed[] = "Error creating needed directory";
// Random bytes in a temporary file's name, and the names tried before giving up. A name is
// unpredictable, so one that exists was planted or is a leftover; a few of them are tolerated.
constexpr ULONG kNameRandomBytes = 8;
constexpr int kNameAttempts = 8;
constexpr wchar_t kTemporarySuffix[] = L".tmp";
// Shared with everyone: looking at a file must not get in anyone's way.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A name beside target that no one can guess: target, a dot, random bytes in hexadecimal, ".tmp".
// 0, or the code of a failed generator (logged).
ResultCode RandomTemporaryName(const char* function, const std::wstring& target, std::wstring& name)
{
    unsigned char bytes[kNameRandomBytes] = {};
    // The generator sets no last error.
    PW_RETURN_IF_FAILED_FOR(
        function, 'E', LogNames::Invoked::kRtlGenRandom,
        pw::Api().RtlGenRandom(bytes, kNameRandomBytes) ? GLOBAL_SUCCESS : GLOBAL_ERROR_UNEXPECTED, nullptr);
    static const wchar_t kDigits[] = L"0123456789abcdef";
    name = target + L".";
    for (const unsigned char byte : bytes)
    {
        name += kDigits[byte >> 4];
        name += kDigits[byte & 0x0F];
    }
    name += kTemporarySuffix;
    return GLOBAL_SUCCESS;
}

// True for a name that RandomTemporaryName gives for fileName.
bool IsTemporaryName(const std::wstring& name, const std::wstring& fileName)
{
    const size_t digits = size_t{kNameRandomBytes} * 2;
    const size_t suffix = sizeof(kTemporarySuffix) / sizeof(wchar_t) - 1;
    return name.size() == fileName.size() + 1 + digits + suffix &&
           name.compare(0, fileName.size(), fileName) == 0 && name[fileName.size()] == L'.' &&
           name.compare(name.size() - suffix, suffix, kTemporarySuffix) == 0 &&
           name.find_first_not_of(L"0123456789abcdefABCDEF", fileName.size() + 1) == name.size() - suffix;
}

bool IsDrive(const std::wstring& prefix)
{
    return prefix.size() == 2 && prefix[1] == L':';
}

// Marks an open file for deletion when its last handle closes, or clears the mark.
BOOL SetDeletePending(HANDLE file, bool pending)
{
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = pending ? TRUE : FALSE;
    return pw::Api().SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition));
}

// FILE_RENAME_INFO with the union of Windows 10 SDKs, which older ones declare without: Flags, for
// pw::kFileRenameInfoEx, in the place of the BOOLEAN ReplaceIfExists of FileRenameInfo. Both classes
// read 1 there as "replace the target".
struct RenameInfoEx
{
    DWORD Flags;
    HANDLE RootDirectory;
    DWORD FileNameLength;
    WCHAR FileName[1];
};
static_assert(offsetof(RenameInfoEx, RootDirectory) == offsetof(FILE_RENAME_INFO, RootDirectory) &&
                  offsetof(RenameInfoEx, FileName) == offsetof(FILE_RENAME_INFO, FileName),
              "pw::kFileRenameInfoEx reads the rename information with the layout of FILE_RENAME_INFO");
constexpr DWORD kRenameReplaceIfExists = 0x00000001; // FILE_RENAME_FLAG_REPLACE_IF_EXISTS
constexpr DWORD kRenamePosixSemantics = 0x00000002;  // FILE_RENAME_FLAG_POSIX_SEMANTICS

// One rename of the open file over target with the information class. ERROR_SUCCESS, or the Windows
// error.
DWORD Rename(HANDLE file, const std::wstring& target, FILE_INFO_BY_HANDLE_CLASS type, DWORD flags)
{
    const size_t nameBytes = target.size() * sizeof(wchar_t);
    std::vector<BYTE> buffer(offsetof(RenameInfoEx, FileName) + nameBytes + sizeof(wchar_t));
    auto* rename = reinterpret_cast<RenameInfoEx*>(buffer.data());
    rename->Flags = flags;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(rename->FileName, target.c_str(), nameBytes);
    return pw::Api().SetFileInformationByHandle(file, type, rename, static_cast<DWORD>(buffer.size()))
               ? ERROR_SUCCESS
               : LastErrorOfFailure();
}

// Renames the open file over target in one step, with POSIX semantics where the file system has
// them (NTFS on Windows 10 and later): a reader that opened the target with delete sharing keeps
// reading the old file and does not block the replace. A read-only target is never overridden.
// ERROR_SUCCESS, or the Windows error.
DWORD RenameOver(HANDLE file, const std::wstring& target)
{
    const DWORD error =
        Rename(file, target, pw::kFileRenameInfoEx, kRenameReplaceIfExists | kRenamePosixSemantics);
    // The answers of Windows versions and file systems that do not know the class or its flags.
    if (error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION)
    {
        return Rename(file, target, FileRenameInfo, kRenameReplaceIfExists);
    }
    return error;
}

// What stands at target, as far as it explains a refused replace: a folder or a link, a read-only
// file, or AccessDenied for a plain file (or nothing) whose refusal does not show.
TargetRefusal::Cause InspectTarget(const std::wstring& target)
{
    const DWORD attributes = pw::Api().GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
    {
        return TargetRefusal::Cause::AccessDenied;
    }
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
    {
        return TargetRefusal::Cause::FolderInPlace;
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
    {
        return TargetRefusal::Cause::ReadOnly;
    }
    return TargetRefusal::Cause::AccessDenied;
}

// What the entry of a refused replace says after the target's path.
std::string RefusalText(const TargetRefusal& refusal)
{
    switch (refusal.cause)
    {
    case TargetRefusal::Cause::InUse:
        return "is in use by " + (refusal.holders.empty() ? std::string("another program") : refusal.holders);
    case TargetRefusal::Cause::FolderInPlace:
        return "cannot be replaced: a folder or a link stands in its place";
    case TargetRefusal::Cause::ReadOnly:
        return "cannot be replaced: it is read-only";
    default:
        return "cannot be replaced: access to it was denied";
    }
}
} // namespace

CAtomicFileWriter::CAtomicFileWriter(const char* logFunction, const std::wstring& directory,
                                     const std::wstring& fileName, const std::wstring& trustedBase,
                                     const CTrustedIdentities& trusted)
    : m_function(logFunction), m_directory(directory), m_fileName(fileName), m_trustedBase(trustedBase),
      m_trusted(trusted)
{
}

ResultCode CAtomicFileWriter::createDirectoryPath(const char* logFunction, const std::wstring& path,
                                                  const std::wstring& base, const CTrustedIdentities& trusted,
                                                  std::vector<CUniqueFileHandle>& folders)
{
    return walkDirectoryPath(logFunction, path, base, trusted, true, 'E', folders);
}

ResultCode CAtomicFileWriter::openDirectoryPath(const char* logFunction, const std::wstring& path,
                                                const std::wstring& base, const CTrustedIdentities& trusted,
                                                char level, std::vector<CUniqueFileHandle>& folders)
{
    return walkDirectoryPath(logFunction, path, base, trusted, false, level, folders);
}

ResultCode CAtomicFileWriter::walkDirectoryPath(const char* logFunction, const std::wstring& path,
                                                const std::wstring& base, const CTrustedIdentities& trusted,
                                                bool create, char level,
                                                std::vector<CUniqueFileHandle>& folders)
{
    try
    {
        if (!base.empty() && path.compare(0, base.size() + 1, base + L'\\') != 0)
        {
            PW_LOG_RETURN_CODE(logFunction, 'E', LogNames::Invoked::kPWCSaxWriterCreateDirectoryPath,
                               GLOBAL_ERROR_BAD_PARAMETER, nullptr, "Folder %s is not below %s",
                               CNarrowText(path).c_str(), CNarrowText(base).c_str());
            return GLOBAL_ERROR_BAD_PARAMETER;
        }
        CUniqueLocalMemory descriptor;
        std::wstring prefix;
        prefix.reserve(path.size());
        for (const wchar_t c : path)
        {
            if (c != L'\\')
            {
                prefix += c;
                continue;
            }
            const bool secured = prefix.size() > base.size() && !IsDrive(prefix);
            if (!create && !secured)
            {
                prefix += c;
                continue;
            }
            const bool missing = pw::Api().GetFileAttributesW(prefix.c_str()) == INVALID_FILE_ATTRIBUTES;
            if (missing && !create)
            {
                // Nothing there is nothing to trust or to read; any other failure is the check's.
                const DWORD error = ::GetLastError();
                if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                {
                    return ERROR_PATH_NOT_FOUND;
                }
            }
            else if (missing)
            {
                SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
                if (secured)
                {
                    if (!descriptor.valid())
                    {
                        PW_RETURN_IF_FAILED_LOGGED(
                            CFileSecurity::BuildDescriptor(CFileSecurity::kFolderSddl, descriptor));
                    }
                    attributes.lpSecurityDescriptor = descriptor.get();
                }
                // A folder that appeared meanwhile is checked below like any existing one.
                if (!pw::Api().CreateDirectoryW(prefix.c_str(), secured ? &attributes : nullptr) &&
                    !(secured && ::GetLastError() == ERROR_ALREADY_EXISTS))
                {
                    return PW_LOG_LAST_ERROR_FOR(logFunction, 'E', logFunction, kCreateFolderFailed);
                }
            }
            if (secured)
            {
                CUniqueFileHandle folder;
                PW_RETURN_IF_FAILED_LOGGED(CFileSecurity::OpenTrustedFolder(prefix, trusted, folder, level));
                folders.push_back(std::move(folder));
            }
            prefix += c;
        }
        return GLOBAL_SUCCESS;
    }
    catch (const std::bad_alloc&)
    {
        PW_LOG_RETURN_CODE(logFunction, 'E', logFunction, GLOBAL_ERROR_UNEXPECTED, nullptr,
                           kCreateFolderFailed);
        return GLOBAL_ERROR_UNEXPECTED;
    }
}

ResultCode CAtomicFileWriter::write(const std::string& bytes, TargetRefusal* refusal)
{
    TargetRefusal ignored;
    TargetRefusal& why = refusal != nullptr ? *refusal : ignored;
    why = TargetRefusal();
    // Never the current directory: whatever happens to be there is no place for a machine's policy.
    if (m_directory.empty())
    {
        PW_LOG_RETURN_CODE(m_function, 'E', m_function, GLOBAL_ERROR_UNEXPECTED, nullptr,
                           "No folder for %s: it is not written to the current directory",
                           CNarrowText(m_fileName).c_str());
        return GLOBAL_ERROR_UNEXPECTED;
    }
    // Held open until the file is in place, so that no checked folder can be swapped meanwhile.
    std::vector<CUniqueFileHandle> folders;
    PW_RETURN_IF_FAILED_LOGGED(
        createDirectoryPath(m_function, m_directory, m_trustedBase, m_trusted, folders));

    // Beside the target, so that the final rename stays within one volume.
    const std::wstring target = m_directory + m_fileName;
    reportPlantedTarget(target);
    removeLeftovers();

    CUniqueFileHandle file;
    std::wstring name;
    PW_RETURN_IF_FAILED_LOGGED(createTemporaryFile(target, file, name));
    // From here on the file goes when its handle closes, whatever ends this process.
    if (const DWORD error =
            PW_LOG_IF_WIN32_BOOL_FALSE_FOR(m_function, 'E', LogNames::Invoked::kSetFileInformationByHandle,
                                           SetDeletePending(file.get(), true), nullptr))
    {
        deleteByName(file, name);
        return error;
    }

    size_t offset = 0;
    while (offset < bytes.size())
    {
        const DWORD chunk = static_cast<DWORD>(bytes.size() - offset);
        DWORD done = 0;
        PW_RETURN_IF_WIN32_BOOL_FALSE_FOR(
            m_function, 'E', LogNames::Invoked::kWriteFile,
            pw::Api().WriteFile(file.get(), bytes.data() + offset, chunk, &done, nullptr), nullptr);
        PW_RETURN_IF_FAILED_FOR(m_function, 'E', LogNames::Invoked::kWriteFile,
                                done != 0 ? GLOBAL_SUCCESS : ERROR_WRITE_FAULT, nullptr);
        offset += done;
    }
    PW_RETURN_IF_WIN32_BOOL_FALSE_FOR(m_function, 'E', LogNames::Invoked::kFlushFileBuffers,
                                      pw::Api().FlushFileBuffers(file.get()), nullptr);
    // A delete-pending file cannot be renamed.
    PW_RETURN_IF_WIN32_BOOL_FALSE_FOR(m_function, 'E', LogNames::Invoked::kSetFileInformationByHandle,
                                      SetDeletePending(file.get(), false), nullptr);
    const ResultCode replaced = replaceTarget(file, target, why);
    if (replaced != GLOBAL_SUCCESS)
    {
        // Gone when the handle closes; by name if it cannot be marked again.
        if (!SetDeletePending(file.get(), true))
        {
            deleteByName(file, name);
        }
        return replaced;
    }
    // The file is in place under its name; a failed close changes nothing on disk.
    (void)PW_LOG_IF_WIN32_BOOL_FALSE_FOR(m_function, 'W', LogNames::Invoked::kCloseHandle,
                                         pw::Api().CloseHandle(file.release()), nullptr);
    return GLOBAL_SUCCESS;
}

// Closes a temporary file that could not be marked for deletion and deletes it by its name.
void CAtomicFileWriter::deleteByName(CUniqueFileHandle& file, const std::wstring& name) const
{
    file.reset();
    (void)PW_LOG_IF_WIN32_BOOL_FALSE_FOR(m_function, 'W', LogNames::Invoked::kDeleteFile,
                                         pw::Api().DeleteFileW(name.c_str()), nullptr);
}

// A target that an untrusted account owns was put there by someone who should not have: it is
// replaced all the same, and the administrator is told whose it was.
void CAtomicFileWriter::reportPlantedTarget(const std::wstring& target) const
{
    FoundFile found;
    CUniqueFileHandle file;
    if (CFileSecurity::InspectFile(m_function, target, 0, kShareAll, m_trusted, found, file) ==
            GLOBAL_SUCCESS &&
        found.exists && !found.trustedOwner)
    {
        PW_LOG_DEBUG(m_function, 'W',
                     "%s belongs to %s, not to SYSTEM, Administrators, TrustedInstaller or the user running "
                     "this tool: it may have been planted, and is replaced",
                     CNarrowText(target).c_str(), found.owner.c_str());
    }
}

// Removes the temporary files of earlier runs that were killed before they could: named as this
// writer names them, plain files, owned by a trusted account. Each is opened as itself (never
// through a link) and deleted through that handle, so the file checked is the file removed.
void CAtomicFileWriter::removeLeftovers() const
{
    WIN32_FIND_DATAW entry = {};
    const std::wstring pattern = m_directory + m_fileName + L".*" + kTemporarySuffix;
    CUniqueFindHandle search(pw::Api().FindFirstFileW(pattern.c_str(), &entry));
    if (!search.valid())
    {
        return;
    }
    do
    {
        const std::wstring name = entry.cFileName;
        if (!IsTemporaryName(name, m_fileName) || (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        {
            continue;
        }
        const std::wstring path = m_directory + name;
        FoundFile found;
        CUniqueFileHandle file;
        if (CFileSecurity::InspectFile(m_function, path, DELETE, kShareAll, m_trusted, found, file) !=
                GLOBAL_SUCCESS ||
            !found.exists || found.directory || found.reparsePoint || !found.trustedOwner)
        {
            continue;
        }
        if (PW_LOG_IF_WIN32_BOOL_FALSE_FOR(m_function, 'W', LogNames::Invoked::kSetFileInformationByHandle,
                                           SetDeletePending(file.get(), true), "Cannot remove %s",
                                           CNarrowText(path).c_str()) != ERROR_SUCCESS)
        {
            continue;
        }
        file.reset();
        PW_LOG_DEBUG(m_function, 'I', "Removed %s, left behind by an earlier run", CNarrowText(path).c_str());
    } while (pw::Api().FindNextFileW(search.get(), &entry));
}

// Creates a new file under an unused random name beside target (CREATE_NEW: an existing file is
// never opened) with CFileSecurity::kFileSddl, shared with no one. 0 with the file open, or the code
// of the failure, logged.
ResultCode CAtomicFileWriter::createTemporaryFile(const std::wstring& target, CUniqueFileHandle& file,
                                                  std::wstring& name) const
{
    CUniqueLocalMemory descriptor;
    PW_RETURN_IF_FAILED_LOGGED(CFileSecurity::BuildDescriptor(CFileSecurity::kFileSddl, descriptor));
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(), FALSE};
    for (int attempt = 1; attempt <= kNameAttempts; ++attempt)
    {
        PW_RETURN_IF_FAILED_LOGGED(RandomTemporaryName(m_function, target, name));
        file.reset(pw::Api().CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, 0, &attributes, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.valid())
        {
            return GLOBAL_SUCCESS;
        }
        const DWORD error = LastErrorOfFailure();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
        {
            return PW_LOG_IF_FAILED_FOR(m_function, 'E', LogNames::Invoked::kCreateFile, error, nullptr);
        }
    }
    PW_LOG_RETURN_CODE(m_function, 'E', LogNames::Invoked::kCreateFile, ERROR_FILE_EXISTS, nullptr,
                       "No unused temporary name beside %s after %d attempts", CNarrowText(target).c_str(),
                       kNameAttempts);
    return ERROR_FILE_EXISTS;
}

// Renames the complete file over the target. A reader that has the target open (the agent, or
// another run reading its own file back) refuses the replace for a moment, so a refusal is retried
// for about a second before it counts; one that lasts names the processes that hold the target.
// Windows refuses to replace a file that is open with access denied as well as with a sharing
// violation, so a refused access is retried too, unless the target shows why it refuses: a folder or
// a read-only file in its place does not change by waiting.
ResultCode CAtomicFileWriter::replaceTarget(CUniqueFileHandle& file, const std::wstring& target,
                                            TargetRefusal& refusal)
{
    const DWORD error = RetryWhileFileInUse(
        [&]() -> DWORD { return RenameOver(file.get(), target); },
        [&target](DWORD refused)
        {
            return IsFileInUse(refused) || (refused == ERROR_ACCESS_DENIED &&
                                            InspectTarget(target) == TargetRefusal::Cause::AccessDenied);
        });
    if (error == ERROR_SUCCESS)
    {
        return GLOBAL_SUCCESS;
    }
    if (error != ERROR_ACCESS_DENIED && !IsFileInUse(error))
    {
        return PW_LOG_IF_FAILED_FOR(m_function, 'E', LogNames::Invoked::kSetFileInformationByHandle, error,
                                    nullptr);
    }
    refusal.cause = IsFileInUse(error) ? TargetRefusal::Cause::InUse : InspectTarget(target);
    // A refused access counts as a file in use only when the Restart Manager names who holds it.
    if ((refusal.cause == TargetRefusal::Cause::InUse ||
         refusal.cause == TargetRefusal::Cause::AccessDenied) &&
        CFileHolders::Describe(target, refusal.holders) == GLOBAL_SUCCESS)
    {
        refusal.cause = TargetRefusal::Cause::InUse;
    }
    PW_LOG_RETURN_CODE(m_function, 'E', LogNames::Invoked::kSetFileInformationByHandle, error, nullptr,
                       "%s %s", CNarrowText(target).c_str(), RefusalText(refusal).c_str());
    return error;
}
