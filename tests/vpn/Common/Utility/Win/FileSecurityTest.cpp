#include "vpn/Common/Utility/Win/FileSecurity.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "support/CreationRecorder.h"
#include "support/LoggedEntry.h"
#include "support/RecordingEventLog.h"
#include "support/TempDirectory.h"

namespace
{
// An existing folder with the rights of sddl, and the account and rights that its refusal names
// ("" when the folder is accepted).
struct FolderRights
{
    const char* name;
    const wchar_t* sddl;
    const char* account;
    const char* rights;
};

class FolderRightsCheck : public ::testing::TestWithParam<FolderRights>
{
};
} // namespace

TEST_P(FolderRightsCheck, OnlyTrustedAccountsMayRemoveOrTakeOverAFolder)
{
    const FolderRights& rights = GetParam();
    TempDirectory dir;
    RecordingEventLog log;
    const auto security = OverrideSecurity(rights.sddl);
    CUniqueFileHandle folder;
    const ResultCode result = CFileSecurity::OpenTrustedFolder(dir.path(), CallerTrusted(), folder);
    if (rights.rights[0] == '\0')
    {
        EXPECT_EQ(0u, result);
        EXPECT_TRUE(folder.valid());
        EXPECT_TRUE(log.entries().empty());
        return;
    }
    EXPECT_EQ(CFileSecurity::kUntrustedFolder, result);
    EXPECT_FALSE(folder.valid());
    // The entry names the folder, the account and the rights, so that the administrator can mend it.
    const std::string folderName(dir.path().begin(), dir.path().end());
    EXPECT_THAT(
        LoggedEntries(log),
        ::testing::ElementsAre(LoggedEntryLike(
            Failure('E', "CFileSecurity::OpenTrustedFolder", "FileSecurity",
                    "CFileSecurity::OpenTrustedFolder", CFileSecurity::kUntrustedFolder),
            ::testing::AllOf(::testing::StartsWith("Refusing folder " + folderName + ": "),
                             ::testing::HasSubstr(rights.account), ::testing::HasSubstr(rights.rights)))));
}

INSTANTIATE_TEST_SUITE_P(
    Dacls, FolderRightsCheck,
    ::testing::Values(
        // What a folder made under the common application data folder inherits: Users may add files
        // and folders, CREATOR OWNER's full control is only handed down.
        FolderRights{"CommonDataFolderDefaults",
                     L"O:SYD:(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIIOID;GA;;;CO)(A;OICIID;0x1200a9;;;BU)"
                     L"(A;CIID;0x116;;;BU)",
                     "", ""},
        FolderRights{"InheritOnlyCreatorOwner", L"O:BAD:(A;OICIIO;GA;;;CO)(A;;FA;;;SY)", "", ""},
        // Deny entries only refuse more.
        FolderRights{"DenyEntry", L"O:BAD:(D;;FA;;;WD)(A;;FA;;;BA)", "", ""},
        FolderRights{"UsersModify", L"O:BAD:(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;BU)", "S-1-5-32-545",
                     "DELETE"},
        FolderRights{"EveryoneFullControl", L"O:BAD:(A;OICI;FA;;;WD)", "S-1-1-0",
                     "DELETE, FILE_DELETE_CHILD, WRITE_DAC, WRITE_OWNER"},
        FolderRights{"UserWithDeleteOnly", L"O:BAD:(A;;SD;;;S-1-5-21-7-7-7-1001)", "S-1-5-21-7-7-7-1001",
                     "DELETE"},
        FolderRights{"UsersWriteDac", L"O:BAD:(A;;WD;;;BU)", "S-1-5-32-545", "WRITE_DAC"},
        FolderRights{"GenericAll", L"O:BAD:(A;;GA;;;AU)", "S-1-5-11", "GENERIC_ALL"},
        FolderRights{"NoDacl", L"O:BA", "everyone", "no DACL"}),
    [](const ::testing::TestParamInfo<FolderRights>& info) { return std::string(info.param.name); });
