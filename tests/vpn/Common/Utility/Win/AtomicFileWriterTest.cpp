#include "vpn/Common/Utility/Win/AtomicFileWriter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "support/ApiOverride.h"
#include "support/CreationRecorder.h"
#include "support/FileFaults.h"
#include "support/LoggedEntry.h"
#include "support/OverrideSet.h"
#include "support/RecordingEventLog.h"
#include "support/TempDirectory.h"
#include "vpn/Common/Utility/Win/FileSecurity.h"

namespace
{
// The function that the writer logs on behalf of.
constexpr char kCaller[] = "Caller::save";
const std::string kBytes = "<new>\r\n\xC3\xA9</new>\r\n";

const std::string kFolderSddl = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
const std::string kFileSddl = "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// Makes the system's random generator give the scripted byte patterns in turn (the last one
// again once the script is used up): the n-th name then ends in that pattern eight times. Lasts
// as long as the returned object.
ApiOverride<BOOLEAN(PVOID, ULONG)> ScriptRandomBytes(std::vector<unsigned char> patterns)
{
    auto next = std::make_shared<size_t>(0);
    return OverrideApi(&pw::PlatformApi::RtlGenRandom,
                       [patterns, next](PVOID buffer, ULONG size) -> BOOLEAN
                       {
                           const unsigned char pattern = patterns[std::min(*next, patterns.size() - 1)];
                           ++*next;
                           std::memset(buffer, pattern, size);
                           return TRUE;
                       });
}

std::wstring TemporaryName(const std::wstring& target, unsigned char pattern)
{
    wchar_t hex[3] = {};
    swprintf(hex, 3, L"%02x", pattern);
    std::wstring name = target + L".";
    for (int i = 0; i < 8; ++i)
    {
        name += hex;
    }
    return name + L".tmp";
}

// The entry of a folder that the writer refuses to use, with the reason.
LoggedEntry Refusal(const std::wstring& folder, const std::string& reason)
{
    return Failure('E', "CFileSecurity::OpenTrustedFolder", "FileSecurity",
                   "CFileSecurity::OpenTrustedFolder", CFileSecurity::kUntrustedFolder,
                   "Refusing folder " + Narrow(folder) + ": " + reason);
}

// A fresh folder to write out.xml into, with the log recorded.
class AtomicWriter : public ::testing::Test
{
protected:
    // Replaces name in folder with bytes, the folders below base checked; the write's code. What
    // stood in the way stays in refusal.
    ResultCode write(const std::wstring& folder, const std::wstring& base = L"",
                     const std::string& bytes = kBytes)
    {
        CAtomicFileWriter writer(kCaller, folder, L"out.xml", base, CallerTrusted());
        return writer.write(bytes, &refusal);
    }
    // The temporary folder itself, ending in a backslash.
    std::wstring folder() const { return dir.path() + L"\\"; }
    std::wstring target() const { return dir.join(L"out.xml"); }

    TempDirectory dir;
    RecordingEventLog log;
    TargetRefusal refusal;
};

using AtomicWriterFile = AtomicWriter;
using AtomicWriterTemporaryFile = AtomicWriter;
using AtomicWriterFolders = AtomicWriter;
using AtomicWriterUntrustedFolder = AtomicWriter;
using AtomicWriterRename = AtomicWriter;
using AtomicWriterReplaceLocked = AtomicWriter;
using AtomicWriterLeftovers = AtomicWriter;
} // namespace

TEST_F(AtomicWriterFile, CreatesMissingDirectoriesAndReplacesTheFile)
{
    const std::wstring nested = dir.join(L"a\\b c\\d\\");
    ASSERT_EQ(0u, write(nested));
    EXPECT_EQ(kBytes, ReadFileBytes(nested + L"out.xml"));

    WriteFileBytes(nested + L"out.xml", std::string(5000, 'o'));
    ASSERT_EQ(0u, write(nested));
    EXPECT_EQ(kBytes, ReadFileBytes(nested + L"out.xml"));
    EXPECT_EQ(std::vector<std::wstring>{L"out.xml"}, ListDirectory(nested));
}

TEST_F(AtomicWriterFile, DirectoryWithoutTrailingBackslashIsJoinedToTheName)
{
    ASSERT_EQ(0u, write(dir.join(L"sub")));
    EXPECT_EQ(std::vector<std::wstring>{L"subout.xml"}, ListDirectory(dir.path()));
    EXPECT_EQ(kBytes, ReadFileBytes(dir.join(L"subout.xml")));
}

TEST_F(AtomicWriterFile, EmptyDirectoryIsRefusedRatherThanTheCurrentDirectory)
{
    // Regression: a policy whose folder was unknown used to land in whatever the current
    // directory was, and the write reported success.
    ScopedCurrentDirectory cwd(dir.path());
    EXPECT_EQ(GLOBAL_ERROR_UNEXPECTED, write(L""));
    EXPECT_TRUE(ListDirectory(dir.path()).empty());
    EXPECT_EQ(
        std::vector<LoggedEntry>{Failure('E', kCaller, "AtomicFileWriter", kCaller, GLOBAL_ERROR_UNEXPECTED,
                                         "No folder for out.xml: it is not written to the current "
                                         "directory")},
        LoggedEntries(log));
}

TEST_F(AtomicWriterFile, LeadingBackslashCannotBeCreated)
{
    // The empty first prefix can be neither found nor created; the write fails with the error that
    // the creation gave, and its entry carries it.
    ::SetLastError(ERROR_SUCCESS);
    ASSERT_FALSE(::CreateDirectoryW(L"", nullptr));
    const DWORD creationError = ::GetLastError();
    ASSERT_NE(static_cast<DWORD>(ERROR_SUCCESS), creationError);

    CreationRecorder calls;
    EXPECT_EQ(creationError, write(L"\\pw-no-such-root\\"));
    EXPECT_TRUE(calls.files().empty());
    EXPECT_EQ(std::vector<LoggedEntry>{Failure('E', kCaller, "AtomicFileWriter", kCaller, creationError,
                                               "Error creating needed directory")},
              LoggedEntries(log));
}

// Regression: a folder that could not be created was logged with a generic code instead of the
// error that said why.
TEST_F(AtomicWriterFile, FolderThatCannotBeCreatedIsLoggedWithTheErrorOfTheCreation)
{
    std::vector<std::wstring> attempted;
    const OverrideSet refused = FailCalls(&pw::PlatformApi::CreateDirectoryW, ERROR_ACCESS_DENIED, FALSE,
                                          [&attempted](LPCWSTR path, LPSECURITY_ATTRIBUTES)
                                          {
                                              attempted.push_back(path);
                                              return true;
                                          });
    for (const std::wstring& base : {std::wstring(), dir.path()})
    {
        log.clear();
        attempted.clear();
        EXPECT_EQ(static_cast<ResultCode>(ERROR_ACCESS_DENIED), write(dir.join(L"a\\b\\"), base));
        EXPECT_EQ(std::vector<std::wstring>{dir.join(L"a")}, attempted);
        EXPECT_EQ(std::vector<LoggedEntry>{Failure('E', kCaller, "AtomicFileWriter", kCaller,
                                                   ERROR_ACCESS_DENIED, "Error creating needed directory")},
                  LoggedEntries(log));
    }
    EXPECT_TRUE(ListDirectory(dir.path()).empty());
}

TEST_F(AtomicWriterTemporaryFile, NameIsRandomAndCreatedNewWithTheFileRights)
{
    // Regression: the name was the target, the process id and ".tmp", opened with CREATE_ALWAYS, so
    // a user could plant it beforehand and own the policy that was renamed into place.
    CreationRecorder calls;
    ASSERT_EQ(0u, write(folder()));
    ASSERT_EQ(0u, write(folder()));
    EXPECT_EQ(kBytes, ReadFileBytes(target()));
    EXPECT_EQ(std::vector<std::wstring>{L"out.xml"}, ListDirectory(dir.path()));

    const std::vector<RecordedCreation> created = calls.files(CREATE_NEW);
    ASSERT_EQ(2u, created.size());
    EXPECT_NE(created[0].path, created[1].path);
    const std::regex pattern(std::regex_replace(Narrow(target()), std::regex(R"([\\.])"), R"(\$&)") +
                             R"(\.[0-9a-f]{16}\.tmp)");
    for (const RecordedCreation& file : created)
    {
        EXPECT_TRUE(std::regex_match(Narrow(file.path), pattern)) << Narrow(file.path);
        EXPECT_EQ(kFileSddl, file.sddl);
        EXPECT_EQ(0u, file.share);
    }
    EXPECT_TRUE(calls.files(CREATE_ALWAYS).empty());
}

TEST_F(AtomicWriterTemporaryFile, NameComesFromTheSystemRandomGenerator)
{
    CreationRecorder calls;
    const auto random = ScriptRandomBytes({0xa5});
    ASSERT_EQ(0u, write(folder()));
    ASSERT_EQ(1u, calls.files(CREATE_NEW).size());
    EXPECT_EQ(dir.join(L"out.xml.a5a5a5a5a5a5a5a5.tmp"), calls.files(CREATE_NEW)[0].path);
}

TEST_F(AtomicWriterTemporaryFile, ExistingNameIsNeverOpenedAndAnotherIsTaken)
{
    const std::wstring planted = TemporaryName(target(), 0x11);
    ASSERT_TRUE(WriteFileBytes(planted, "planted"));
    CreationRecorder calls;
    // Planted by someone else, so it is no leftover of an earlier run to remove.
    const auto plantedByAUser = OverrideFileOwner(L"S-1-5-21-7-7-7-1001");
    const auto random = ScriptRandomBytes({0x11, 0x22});
    ASSERT_EQ(0u, write(folder()));

    const std::vector<RecordedCreation> created = calls.files(CREATE_NEW);
    ASSERT_EQ(2u, created.size());
    EXPECT_EQ(planted, created[0].path);
    EXPECT_EQ(TemporaryName(target(), 0x22), created[1].path);
    EXPECT_EQ("planted", ReadFileBytes(planted));
    EXPECT_EQ(kBytes, ReadFileBytes(target()));
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(AtomicWriterTemporaryFile, GivesUpAfterEightTakenNamesAndKeepsTheOldFile)
{
    const std::wstring planted = TemporaryName(target(), 0x33);
    ASSERT_TRUE(WriteFileBytes(planted, "planted"));
    ASSERT_TRUE(WriteFileBytes(target(), "old policy"));
    CreationRecorder calls;
    const auto plantedByAUser = OverrideFileOwner(L"S-1-5-21-7-7-7-1001");
    const auto random = ScriptRandomBytes({0x33});
    EXPECT_EQ(DWORD{ERROR_FILE_EXISTS}, write(folder()));

    EXPECT_EQ(8u, calls.files(CREATE_NEW).size());
    EXPECT_EQ("planted", ReadFileBytes(planted));
    EXPECT_EQ("old policy", ReadFileBytes(target()));
    EXPECT_EQ(
        (std::vector<LoggedEntry>{
            Message('W', kCaller, "AtomicFileWriter",
                    Narrow(target()) +
                        " belongs to S-1-5-21-7-7-7-1001, not to SYSTEM, Administrators, TrustedInstaller or "
                        "the user running this tool: it may have been planted, and is replaced"),
            Failure('E', kCaller, "AtomicFileWriter", "::CreateFile", ERROR_FILE_EXISTS,
                    "No unused temporary name beside " + Narrow(target()) + " after 8 attempts")}),
        LoggedEntries(log));
}

TEST_F(AtomicWriterTemporaryFile, RandomGeneratorFailureFailsTheWrite)
{
    ASSERT_TRUE(WriteFileBytes(target(), "old policy"));
    const auto noRandom =
        OverrideApi(&pw::PlatformApi::RtlGenRandom, [](PVOID, ULONG) -> BOOLEAN { return FALSE; });
    EXPECT_EQ(GLOBAL_ERROR_UNEXPECTED, write(folder()));
    EXPECT_EQ(std::vector<std::wstring>{L"out.xml"}, ListDirectory(dir.path()));
    EXPECT_EQ(std::vector<LoggedEntry>{Failure('E', kCaller, "AtomicFileWriter", "RtlGenRandom",
                                               GLOBAL_ERROR_UNEXPECTED)},
              LoggedEntries(log));
}

TEST_F(AtomicWriterTemporaryFile, DeletedByNameWhenDeletionByHandleIsRefused)
{
    ASSERT_TRUE(WriteFileBytes(target(), "old policy"));
    int dispositions = 0;
    const OverrideSet refuseDisposition =
        FailCalls(&pw::PlatformApi::SetFileInformationByHandle, ERROR_ACCESS_DENIED, FALSE,
                  [&dispositions](HANDLE, FILE_INFO_BY_HANDLE_CLASS type, LPVOID, DWORD)
                  {
                      dispositions += type == FileDispositionInfo ? 1 : 0;
                      return true;
                  });
    const OverrideSet failFlush = FailCalls(&pw::PlatformApi::FlushFileBuffers, ERROR_IO_DEVICE, FALSE);
    EXPECT_EQ(DWORD{ERROR_ACCESS_DENIED}, write(folder())) << "the mark's own refusal";
    EXPECT_EQ(1, dispositions);
    EXPECT_EQ(std::vector<std::wstring>{L"out.xml"}, ListDirectory(dir.path()));
    EXPECT_EQ("old policy", ReadFileBytes(target()));
}

TEST_F(AtomicWriterFolders, CreatedFoldersBelowTheBaseGetTheProtectedDacl)
{
    CreationRecorder calls;
    ASSERT_EQ(0u, write(dir.join(L"Maker\\Product\\"), dir.path()));
    EXPECT_EQ(kBytes, ReadFileBytes(dir.join(L"Maker\\Product\\out.xml")));

    ASSERT_EQ(2u, calls.directories().size());
    EXPECT_EQ(dir.join(L"Maker"), calls.directories()[0].path);
    EXPECT_EQ(dir.join(L"Maker\\Product"), calls.directories()[1].path);
    for (const RecordedCreation& folder : calls.directories())
    {
        EXPECT_EQ(kFolderSddl, folder.sddl);
    }
    // Both folders are opened as links, without delete sharing, and checked; the base is not.
    std::vector<std::wstring> opened;
    for (const RecordedCreation& open : calls.files(OPEN_EXISTING))
    {
        if (open.path == dir.join(L"Maker\\Product\\out.xml"))
        {
            continue; // looked at for its owner, and not held against anyone
        }
        opened.push_back(open.path);
        EXPECT_NE(0u, open.flags & FILE_FLAG_OPEN_REPARSE_POINT);
        EXPECT_EQ(0u, open.share & FILE_SHARE_DELETE);
    }
    EXPECT_EQ((std::vector<std::wstring>{dir.join(L"Maker"), dir.join(L"Maker\\Product")}), opened);
}

TEST_F(AtomicWriterFolders, DirectoryOutsideTheBaseIsRefused)
{
    TempDirectory other;
    const ResultCode result = write(other.path() + L"\\", dir.path());
    EXPECT_TRUE(ListDirectory(other.path()).empty());
    ASSERT_EQ(1u, log.entries().size());
    EXPECT_NE(0u, result);
    EXPECT_EQ(LoggedEntries(log)[0].code, result) << "the code of the failure, logged";
}

namespace
{
// Runs a command line in another process and gives its exit code, or -1 when it cannot run.
DWORD RunProcess(std::wstring commandLine)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &startup, &process))
    {
        return static_cast<DWORD>(-1);
    }
    ::WaitForSingleObject(process.hProcess, 30000);
    DWORD code = static_cast<DWORD>(-1);
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return code;
}
} // namespace

// Regression: the folders were held without data access, which pins nothing, so a folder that had
// passed its check could be renamed away and replaced while the file was written into it.
TEST_F(AtomicWriterFolders, CheckedFoldersCannotBeRenamedWhileTheFileIsWritten)
{
    const std::wstring maker = dir.join(L"Maker");
    const std::wstring moveMaker = L"cmd.exe /c move \"" + maker + L"\" \"" + dir.join(L"Moved") + L"\"";
    std::vector<DWORD> renames;
    const auto renameDuringTheWrite = OverrideApi(
        &pw::PlatformApi::CreateFileW,
        [&](LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes, DWORD disposition,
            DWORD flags, HANDLE templateFile)
        {
            if (disposition == CREATE_NEW)
            {
                renames.push_back(RunProcess(moveMaker));
                renames.push_back(RunProcess(L"cmd.exe /c move \"" + maker + L"\\Product\" \"" +
                                             dir.join(L"Moved") + L"\""));
            }
            return ::CreateFileW(name, access, share, attributes, disposition, flags, templateFile);
        });
    ASSERT_EQ(0u, write(maker + L"\\Product\\", dir.path()));
    ASSERT_EQ(2u, renames.size());
    EXPECT_NE(0u, renames[0]);
    EXPECT_NE(0u, renames[1]);
    EXPECT_EQ(std::vector<std::wstring>{L"Maker"}, ListDirectory(dir.path()));
    EXPECT_EQ(kBytes, ReadFileBytes(maker + L"\\Product\\out.xml"));
    // Once the file is in place the folders are let go.
    EXPECT_EQ(0u, RunProcess(moveMaker));
}

// An existing folder below the base is used only when no one but SYSTEM, Administrators,
// TrustedInstaller or the caller could have planted it, and its rights are left as they are.
class AtomicWriterTrustedOwner : public AtomicWriter, public ::testing::WithParamInterface<const wchar_t*>
{
};

TEST_P(AtomicWriterTrustedOwner, ExistingFolderIsUsedAsItIs)
{
    ASSERT_TRUE(::CreateDirectoryW(dir.join(L"Maker").c_str(), nullptr));
    CreationRecorder calls;
    const auto owner = OverrideOwner(GetParam());
    EXPECT_EQ(0u, write(dir.join(L"Maker\\"), dir.path()));
    EXPECT_TRUE(calls.directories().empty());
    EXPECT_EQ(kBytes, ReadFileBytes(dir.join(L"Maker\\out.xml")));
    EXPECT_TRUE(log.entries().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Owners, AtomicWriterTrustedOwner,
    ::testing::Values(L"SY", L"BA", L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"));

TEST_F(AtomicWriterUntrustedFolder, FolderOwnedByAnotherUserOrAReparsePointIsRefusedAndTheOldFileKept)
{
    const std::wstring folder = dir.join(L"Maker");
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\out.xml", "old policy"));
    const auto expectRefused = [&](const std::string& reason)
    {
        log.clear();
        EXPECT_EQ(CFileSecurity::kUntrustedFolder, write(folder + L"\\", dir.path()));
        EXPECT_EQ("old policy", ReadFileBytes(folder + L"\\out.xml"));
        EXPECT_EQ(std::vector<std::wstring>{L"out.xml"}, ListDirectory(folder));
        EXPECT_EQ(std::vector<LoggedEntry>{Refusal(folder, reason)}, LoggedEntries(log));
    };
    {
        const auto owner = OverrideOwner(L"S-1-5-21-7-7-7-1001");
        expectRefused("its owner S-1-5-21-7-7-7-1001 is not SYSTEM, Administrators, TrustedInstaller or the "
                      "user running this tool");
    }
    // Wine cannot make a junction; the folder is reported as one.
    const auto reparsePoint = ReportAsReparsePoint(L"");
    expectRefused("it is a reparse point (a junction, symbolic link or mount point)");
}

TEST_F(AtomicWriterUntrustedFolder, FileWhereAFolderBelongsIsRefused)
{
    ASSERT_TRUE(WriteFileBytes(dir.join(L"Maker"), "not a folder"));
    EXPECT_EQ(CFileSecurity::kUntrustedFolder, write(dir.join(L"Maker\\"), dir.path()));
    EXPECT_EQ("not a folder", ReadFileBytes(dir.join(L"Maker")));
    EXPECT_EQ(std::vector<LoggedEntry>{Refusal(dir.join(L"Maker"), "it is not a folder")},
              LoggedEntries(log));
}

namespace
{
// A failure at any step of a write must not tear the file: the old file stays byte-for-byte, the
// temporary file is removed and the failing call is logged.
struct FailurePoint
{
    const char* name;
    const char* invoked;
    DWORD error;
    // The failure's fakes, which last as long as the returned set.
    OverrideSet (*inject)(DWORD error);
};

class AtomicWriterReplace : public AtomicWriter, public ::testing::WithParamInterface<FailurePoint>
{
};
} // namespace

TEST_P(AtomicWriterReplace, FailureKeepsTheOldFileAndLeavesNoTemporary)
{
    const FailurePoint& point = GetParam();
    const std::string oldBytes = "<old>\r\n\xC3\xA9</old>\r\n";
    WriteFileBytes(target(), oldBytes);

    const OverrideSet injected = point.inject(point.error);
    EXPECT_EQ(point.error, write(folder(), L"", std::string(20000, 'n'))) << "the failed call's code";

    EXPECT_EQ(oldBytes, ReadFileBytes(target()));
    EXPECT_EQ(std::vector<std::wstring>{L"out.xml"}, ListDirectory(dir.path()));
    EXPECT_EQ(std::vector<LoggedEntry>{Failure('E', kCaller, "AtomicFileWriter", point.invoked, point.error)},
              LoggedEntries(log));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, AtomicWriterReplace,
    ::testing::Values(
        // A read-only or locked directory refuses the new file.
        FailurePoint{"Open", "::CreateFile", ERROR_ACCESS_DENIED,
                     [](DWORD error)
                     {
                         return FailCalls(&pw::PlatformApi::CreateFileW, error, INVALID_HANDLE_VALUE,
                                          [](LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                                             DWORD, HANDLE) { return disposition == CREATE_NEW; });
                     }},
        // The disk fills up after part of the bytes reached the temporary file.
        FailurePoint{"Write", "::WriteFile", ERROR_DISK_FULL,
                     [](DWORD error)
                     {
                         OverrideSet set;
                         set.add(&pw::PlatformApi::WriteFile,
                                 [error](HANDLE file, LPCVOID data, DWORD size, LPDWORD done,
                                         LPOVERLAPPED overlapped)
                                 {
                                     if (size > 1000)
                                     {
                                         return ::WriteFile(file, data, size / 2, done, overlapped);
                                     }
                                     ::SetLastError(error);
                                     return FALSE;
                                 });
                         return set;
                     }},
        FailurePoint{"Flush", "::FlushFileBuffers", ERROR_IO_DEVICE,
                     [](DWORD error) { return FailCalls(&pw::PlatformApi::FlushFileBuffers, error, FALSE); }},
        // Marking the new file for deletion while it is written is refused.
        FailurePoint{"MarkDeletePending", "::SetFileInformationByHandle", ERROR_INVALID_FUNCTION,
                     [](DWORD error)
                     { return FailCalls(&pw::PlatformApi::SetFileInformationByHandle, error, FALSE); }},
        // A read-only or locked target refuses to be replaced.
        FailurePoint{"Replace", "::SetFileInformationByHandle", ERROR_DISK_FULL,
                     [](DWORD error)
                     {
                         OverrideSet set;
                         set.add(&pw::PlatformApi::SetFileInformationByHandle, RenameRefuser(error));
                         return set;
                     }}),
    [](const ::testing::TestParamInfo<FailurePoint>& info) { return std::string(info.param.name); });

TEST_F(AtomicWriterReplaceLocked, PolicyFileHeldOpenByAReaderIsNotTorn)
{
    const std::string oldBytes = "old policy";
    WriteFileBytes(target(), oldBytes);
    // Held open without delete sharing, as a reader of a policy file might.
    const HANDLE reader = ::CreateFileW(target().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);

    int pauses = 0;
    const auto countPauses = OverrideApi(&pw::PlatformApi::Sleep, [&pauses](DWORD) { ++pauses; });
    const ResultCode result = write(folder());
    ::CloseHandle(reader);
    EXPECT_EQ(19, pauses) << "a refused replace is tried 20 times";

    // The open file cannot be replaced (Wine refuses as Windows does).
    EXPECT_EQ(LoggedEntries(log).back().code, result) << "the refused rename's code";
    EXPECT_EQ(oldBytes, ReadFileBytes(target()));
    // The code is one of the errors of a file in use, which are retried; Wine's Restart Manager
    // cannot name the holder, so a refused access (Wine's answer) is reported as such.
    EXPECT_THAT(LoggedEntries(log),
                ::testing::Contains(LoggedEntryLike(
                    Failure('E', kCaller, "AtomicFileWriter", "::SetFileInformationByHandle", 0),
                    ::testing::AnyOf(DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_SHARING_VIOLATION},
                                     DWORD{ERROR_LOCK_VIOLATION}),
                    ::testing::AnyOf(Narrow(target()) + " is in use by another program",
                                     Narrow(target()) + " cannot be replaced: access to it was denied"))));
    EXPECT_TRUE(refusal.cause == TargetRefusal::Cause::InUse ||
                refusal.cause == TargetRefusal::Cause::AccessDenied);
    EXPECT_EQ(std::vector<std::wstring>{L"out.xml"}, ListDirectory(dir.path()));
}

TEST_F(AtomicWriterReplaceLocked, ReaderThatLetsGoDuringTheRetriesDoesNotFailTheWrite)
{
    // Two runs at once: one run's read-back holds the file while the other replaces it.
    WriteFileBytes(target(), "old policy");
    HANDLE reader = ::CreateFileW(target().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);

    std::vector<DWORD> pauses;
    const auto letGoOnSecondPause = OverrideApi(&pw::PlatformApi::Sleep,
                                                [&](DWORD ms)
                                                {
                                                    pauses.push_back(ms);
                                                    if (pauses.size() == 2)
                                                    {
                                                        ::CloseHandle(reader);
                                                    }
                                                });
    EXPECT_EQ(0u, write(folder()));
    EXPECT_EQ((std::vector<DWORD>{50, 50}), pauses);
    EXPECT_EQ(kBytes, ReadFileBytes(target()));
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(AtomicWriterReplaceLocked, OtherReplaceErrorsAreNotRetried)
{
    const auto attempts = std::make_shared<int>(0);
    const auto diskFull = RefuseRename(ERROR_DISK_FULL, attempts);
    EXPECT_EQ(DWORD{ERROR_DISK_FULL}, write(folder()));
    EXPECT_EQ(1, *attempts);
    EXPECT_EQ(TargetRefusal::Cause::None, refusal.cause);
    EXPECT_TRUE(ListDirectory(dir.path()).empty());
}

// The replace asks for POSIX semantics, so that a reader that shares delete access keeps the old file
// and does not block it, and never overrides the read-only attribute. Where the class is unknown the
// classic rename follows in the same attempt: Wine 8 answers FileRenameInfoEx (as it answers
// FileDispositionInfoEx) with ERROR_INVALID_PARAMETER, as Windows before 10 and FAT volumes do.
TEST_F(AtomicWriterRename, PosixRenameFirstAndTheClassicOneWhereItIsUnknown)
{
    for (const DWORD posixAnswer : {DWORD{ERROR_SUCCESS}, DWORD{ERROR_INVALID_PARAMETER}})
    {
        WriteFileBytes(target(), "old policy");
        std::vector<std::pair<int, DWORD>> renames; // class, flags (ReplaceIfExists for the classic one)
        const auto record =
            OverrideApi(&pw::PlatformApi::SetFileInformationByHandle,
                        [&](HANDLE file, FILE_INFO_BY_HANDLE_CLASS type, LPVOID data, DWORD size) -> BOOL
                        {
                            if (type != FileRenameInfo && type != pw::kFileRenameInfoEx)
                            {
                                return ::SetFileInformationByHandle(file, type, data, size);
                            }
                            DWORD flags = 0;
                            std::memcpy(&flags, data, type == FileRenameInfo ? 1 : sizeof(flags));
                            renames.emplace_back(type, flags);
                            if (type != FileRenameInfo && posixAnswer != ERROR_SUCCESS)
                            {
                                ::SetLastError(posixAnswer);
                                return FALSE;
                            }
                            // Wine has no POSIX rename: the classic one stands in for it (the flags'
                            // first byte reads as ReplaceIfExists).
                            return ::SetFileInformationByHandle(file, FileRenameInfo, data, size);
                        });
        EXPECT_EQ(0u, write(folder()));
        EXPECT_EQ(kBytes, ReadFileBytes(target()));
        // FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS, nothing else.
        using Calls = std::vector<std::pair<int, DWORD>>;
        const Calls posix = {{pw::kFileRenameInfoEx, 0x3}};
        const Calls both = {{pw::kFileRenameInfoEx, 0x3}, {FileRenameInfo, TRUE}};
        EXPECT_EQ(posixAnswer == ERROR_SUCCESS ? posix : both, renames);
    }
}

// Temporary files of runs that were killed are removed by the next write, and nothing else is.
TEST_F(AtomicWriterLeftovers, TemporaryFilesOfEarlierRunsAreRemovedAndNothingElse)
{
    const std::vector<std::wstring> kept = {L"out.xml.0123456789abcdef.tmp.bak",
                                            L"out.xml.0123456789abcde.tmp", L"out.xml.0123456789abcdeg.tmp",
                                            L"other.xml.0123456789abcdef.tmp"};
    for (const std::wstring& name : kept)
    {
        ASSERT_TRUE(WriteFileBytes(dir.join(name), "someone's"));
    }
    ASSERT_TRUE(WriteFileBytes(TemporaryName(target(), 0x5a), "half a poli"));
    ASSERT_TRUE(WriteFileBytes(TemporaryName(target(), 0xc3), ""));
    // The file of a writer that is running, held without sharing: it stays, with no entry.
    const std::wstring running = TemporaryName(target(), 0x77);
    CUniqueFileHandle held(::CreateFileW(running.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_EQ(0u, write(folder()));

    std::vector<std::wstring> expected = kept;
    expected.push_back(running.substr(dir.path().size() + 1));
    expected.push_back(L"out.xml");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, ListDirectory(dir.path()));
    // In the order the folder lists them.
    EXPECT_THAT(
        LoggedEntries(log),
        ::testing::UnorderedElementsAre(
            Message('I', kCaller, "AtomicFileWriter",
                    "Removed " + Narrow(TemporaryName(target(), 0x5a)) + ", left behind by an earlier run"),
            Message('I', kCaller, "AtomicFileWriter",
                    "Removed " + Narrow(TemporaryName(target(), 0xc3)) + ", left behind by an earlier run")));
}
