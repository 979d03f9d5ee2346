#include "vpn/Common/Xml/XmlLocalPWPolMgr.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/ApiOverride.h"
#include "support/CreationRecorder.h"
#include "support/FileFaults.h"
#include "support/LoggedEntry.h"
#include "support/OverrideSet.h"
#include "support/PolicyDocument.h"
#include "support/PolicyFolderRedirect.h"
#include "support/RecordingEventLog.h"
#include "support/TempDirectory.h"
#include "vpn/Common/Platform/StringConvert.h"
#include "vpn/Common/ProductVersion.h"
#include "vpn/Common/Utility/Win/FileSecurity.h"
#include "vpn/Common/Xml/LocalPWPolicyTable.h"
#include "vpn/Common/Xml/PWCSaxWriter.h"

// A record as text, so that a whole-record comparison shows which field differs.
void PrintTo(const LocalPWPolicyInfo& r, std::ostream* os)
{
    *os << "{version=" << std::string(r.getVersion().begin(), r.getVersion().end())
        << " fm=" << r.getFipsMode() << " bd=" << r.getBypassDownloader()
        << " rwl=" << r.getRestrictWebLaunch() << " sct=" << r.getStrictCertificateTrust()
        << " ecc=" << r.getEnableCRLCheck() << " rpc=" << r.getRestrictPreferenceCaching()
        << " rtp=" << r.getRestrictTunnelProtocols() << " stores=0x" << std::hex << r.getExcludedCertStores()
        << std::dec << " up=" << r.getAllowSoftwareUpdatesFromAnyServer()
        << r.getAllowComplianceModuleUpdatesFromAnyServer() << r.getAllowVPNProfileUpdatesFromAnyServer()
        << r.getAllowZKRProfileUpdatesFromAnyServer() << r.getAllowServiceProfileUpdatesFromAnyServer()
        << " servers=";
    for (const std::wstring& server : r.getAuthorizedServers())
    {
        *os << "[" << ToUtf8(server) << "]";
    }
    *os << "}";
}

namespace
{
bool Generate(XmlLocalPWPolMgr& manager, const std::vector<const wchar_t*>& args)
{
    return manager.GenerateLocalPolicy(args.data(), static_cast<int>(args.size()));
}

using ::testing::_;

// The warning that GenerateLocalPolicy logs for a skipped argument.
LoggedEntry ArgumentWarning(const std::string& text)
{
    return Message('W', "XmlLocalPWPolMgr::GenerateLocalPolicy", "XmlLocalPWPolMgr", text);
}

std::vector<LoggedEntry> ArgumentWarnings(const std::vector<std::string>& texts)
{
    std::vector<LoggedEntry> entries;
    for (const std::string& text : texts)
    {
        entries.push_back(ArgumentWarning(text));
    }
    return entries;
}

const LoggedEntry kStructureWarning = Message('W', "XmlLocalPWPolMgr::setElementValue", "XmlLocalPWPolMgr",
                                              "Local Policy XML structure is incorrect.");

const LoggedEntry kNewerVersionWarning =
    Message('W', "XmlLocalPWPolMgr::addAttribute", "XmlLocalPWPolMgr",
            "The parsed Local Security Policy File version is newer than the current Pathweave Client. "
            "Unexpected behaviors can result.");

// The failed write of the policy file as the manager logs it, after the writer's own entry.
const LoggedEntry kWriteFailed = Failure('E', "XmlLocalPWPolMgr::writeLocalPolicy", "XmlLocalPWPolMgr",
                                         "PWCSaxWriter::writeDocument", GLOBAL_ERROR_UNEXPECTED);

// A schema feature that the installed reader refused; the read goes on without it.
// The reader refuses the schema cache that a vetted schema is handed in (Wine's reader refuses the
// property; Windows' takes it).
::testing::Matcher<const LoggedEntry&> SchemaFeatureRefused()
{
    return LoggedEntryLike(
        Failure('W', "XmlParser::invokeParser", "XmlParser", "ISAXXMLReader::putProperty", 0), _,
        "The policy is read without its schema");
}

void Element(XmlLocalPWPolMgr& manager, const std::wstring& name, const std::wstring& text)
{
    manager.startElement(name);
    manager.setElementValue(text);
    manager.endElement(name);
}

void StartRoot(XmlLocalPWPolMgr& manager, const std::wstring& version = kPolicyVersionW)
{
    manager.startElement(L"PathweaveLocalPolicy");
    manager.addAttribute(L"pwversion", version);
    manager.addAttribute(L"schemaLocation", L"x PathweaveLocalPolicy.xsd");
    manager.setElementValue(L"\n");
}

// A manager whose policy folder is a fresh temporary one, with its log recorded.
class PolicyManager : public ::testing::Test
{
protected:
    // The policy file as it is on disk; "" when there is none.
    std::string written() const { return ReadFileBytes(folder.policyFile()); }

    PolicyFolderRedirect folder;
    RecordingEventLog log;
    XmlLocalPWPolMgr manager;
};

using PolicyArguments = PolicyManager;
using PolicyFileLayout = PolicyManager;
using PolicyFileWrite = PolicyManager;
using PolicyReadBack = PolicyManager;

// A manager on its own, with its log recorded, for the events of a parse.
class PolicyReader : public ::testing::Test
{
protected:
    RecordingEventLog log;
    XmlLocalPWPolMgr manager;
};
} // namespace

// --- Arguments -------------------------------------------------------------------------------

TEST_F(PolicyArguments, FirstValueWinsAndLaterOnesDrawTheDuplicateWarning)
{
    ASSERT_TRUE(Generate(manager, {L"fm=false", L"fm=true"}));
    EXPECT_EQ(PolicyFile({"<FipsMode>false</FipsMode>"}), written());
    EXPECT_EQ(ArgumentWarnings({"ignoring duplicate policy arg FipsMode. The first value will be used"}),
              LoggedEntries(log));
}

TEST_F(PolicyArguments, EachBadArgumentDrawsTheWarningOfTheFirstCheckItFails)
{
    ASSERT_TRUE(Generate(manager, {L"fm", nullptr, L"fm=", L"=", L"=true", L"FM=true", L"fm=yes", L"upal",
                                   L"fm=true", L"fm=maybe", L"fm=false", L"rtp=none"}));
    EXPECT_EQ(ArgumentWarnings({
                  "ignoring invalid argument fm. Arguments in the form policy_abbreviation=value expected",
                  "ignoring undefined abbreviation ",
                  "ignoring undefined abbreviation FM",
                  "yes is not an allowed value for policy FipsMode",
                  "ignoring invalid argument upal. Arguments in the form policy_abbreviation=value expected",
                  "maybe is not an allowed value for policy FipsMode",
                  "ignoring duplicate policy arg FipsMode. The first value will be used",
                  "none is not an allowed value for policy RestrictTunnelProtocols",
              }),
              LoggedEntries(log));
    EXPECT_EQ(PolicyFile({"<FipsMode>true</FipsMode>"}), written());
}

TEST_F(PolicyArguments, ValuesMatchIgnoringCaseAndAreWrittenInTheirOwnForm)
{
    ASSERT_TRUE(Generate(manager, {L"rtp=ipsec", L"rpc=all", L"upsu=FALSE", L"ecc=True", L"fm=TRUE"}));
    EXPECT_TRUE(log.entries().empty());
    EXPECT_EQ(
        PolicyFile({
            "<EnableCRLCheck>true</EnableCRLCheck>",
            "<FipsMode>true</FipsMode>",
            "<RestrictPreferenceCaching>All</RestrictPreferenceCaching>",
            "<RestrictTunnelProtocols>IPSec</RestrictTunnelProtocols>",
            "<UpdatePolicy>",
            "<AllowSoftwareUpdatesFromAnyServer>false</AllowSoftwareUpdatesFromAnyServer></UpdatePolicy>",
        }),
        written());
}

TEST_F(PolicyArguments, ServerListKeepsEqualsSignsAndIsNotMerged)
{
    ASSERT_TRUE(Generate(manager, {L"upal=x=y", L"upal=other", L"fm=true"}));
    EXPECT_EQ(ArgumentWarnings({"ignoring duplicate policy arg AuthorizedServerList. The first value will be "
                                "used"}),
              LoggedEntries(log));
    EXPECT_EQ(PolicyFile({
                  "<FipsMode>true</FipsMode>",
                  "<UpdatePolicy>",
                  "<AuthorizedServerList>",
                  "<ServerName>x=y</ServerName></AuthorizedServerList></UpdatePolicy>",
              }),
              written());
}

TEST_F(PolicyArguments, UnusableArrayWritesNothing)
{
    const wchar_t* args[] = {L"fm=true"};
    EXPECT_FALSE(manager.GenerateLocalPolicy(nullptr, 1));
    EXPECT_FALSE(manager.GenerateLocalPolicy(args, -1));
    EXPECT_FALSE(XmlLocalPWPolMgr::localPolicyExists());

    const LoggedEntry invalid =
        Message('E', "XmlLocalPWPolMgr::GenerateLocalPolicy", "XmlLocalPWPolMgr", "Invalid Arguments");
    EXPECT_EQ((std::vector<LoggedEntry>{invalid, invalid}), LoggedEntries(log));

    // An empty but real array gives a file with the root element alone.
    EXPECT_TRUE(manager.GenerateLocalPolicy(args, 0));
    EXPECT_TRUE(XmlLocalPWPolMgr::localPolicyExists());
    EXPECT_EQ(PolicyFile({}), written());
}

// Regression: a server list with a character that XML 1.0 cannot carry made a file that neither
// the read-back nor the agent could parse; one with a carriage return read back with a line feed
// in its place.
class PolicyArgumentsUnreadableServerList : public PolicyManager,
                                            public testing::WithParamInterface<std::wstring>
{
};

TEST_P(PolicyArgumentsUnreadableServerList, IsNotAllowed)
{
    const std::wstring argument = L"upal=" + GetParam();
    ASSERT_TRUE(Generate(manager, {argument.c_str(), L"fm=true"}));
    EXPECT_THAT(LoggedEntries(log),
                ::testing::ElementsAre(LoggedEntryLike(
                    ArgumentWarning(""),
                    ::testing::EndsWith(" is not an allowed value for policy AuthorizedServerList"))));
    EXPECT_EQ(PolicyFile({"<FipsMode>true</FipsMode>"}), written());
}

INSTANTIATE_TEST_SUITE_P(ControlCharactersAndBrokenSurrogates, PolicyArgumentsUnreadableServerList,
                         testing::Values(L"a\rb", L"a;b\r\n",
                                         std::wstring(L"a\x01"
                                                      L"b"),
                                         L"a\x08", L"\x0B", L"x\x0C", L"\x0E", L"\x1F", L"a\xFFFE", L"\xFFFF",
                                         L"a\xD800", L"\xD800x", L"\xDC00", L"\xDE00\xD83D"));

// Tab, line breaks and characters outside the basic plane are XML text.
TEST_F(PolicyArguments, ServerListWithTabAndCharactersOutsideTheBasicPlaneIsAllowed)
{
    ASSERT_TRUE(Generate(manager, {L"upal=a\tb;\xD83D\xDE00"}));
    EXPECT_TRUE(log.entries().empty());
    EXPECT_EQ(PolicyFile({
                  "<UpdatePolicy>",
                  "<AuthorizedServerList>",
                  "<ServerName>a\tb</ServerName>",
                  "<ServerName>\xF0\x9F\x98\x80</ServerName></AuthorizedServerList></UpdatePolicy>",
              }),
              written());
}

// --- File layout -------------------------------------------------------------------------------

TEST_F(PolicyFileLayout, TenLineExampleToTheByte)
{
    ASSERT_TRUE(Generate(manager, {L"bd=true", L"upsu=false", L"upal=s1;s2", L"fm=true"}));
    EXPECT_EQ(PolicyFile({"<BypassDownloader>true</BypassDownloader>", "<FipsMode>true</FipsMode>",
                          "<UpdatePolicy>",
                          "<AllowSoftwareUpdatesFromAnyServer>false</AllowSoftwareUpdatesFromAnyServer>",
                          "<AuthorizedServerList>", "<ServerName>s1</ServerName>",
                          "<ServerName>s2</ServerName></AuthorizedServerList></UpdatePolicy>"}),
              written());
}

TEST_F(PolicyFileLayout, PoliciesAreSortedByNameWithinTheirGroup)
{
    ASSERT_TRUE(
        Generate(manager, {L"upsp=false", L"ewn=true", L"upal=s", L"bd=false", L"upcu=true", L"efn=true",
                           L"rwl=true", L"fm=true", L"upvp=false", L"upip=true", L"sct=true"}));
    EXPECT_EQ(
        PolicyFile({
            "<BypassDownloader>false</BypassDownloader>",
            "<ExcludeFirefoxNSSCertStore>true</ExcludeFirefoxNSSCertStore>",
            "<ExcludeWinNativeCertStore>true</ExcludeWinNativeCertStore>",
            "<FipsMode>true</FipsMode>",
            "<RestrictWebLaunch>true</RestrictWebLaunch>",
            "<StrictCertificateTrust>true</StrictCertificateTrust>",
            "<UpdatePolicy>",
            "<AllowComplianceModuleUpdatesFromAnyServer>true</AllowComplianceModuleUpdatesFromAnyServer>",
            "<AllowServiceProfileUpdatesFromAnyServer>false</AllowServiceProfileUpdatesFromAnyServer>",
            "<AllowVPNProfileUpdatesFromAnyServer>false</AllowVPNProfileUpdatesFromAnyServer>",
            "<AllowZKRProfileUpdatesFromAnyServer>true</AllowZKRProfileUpdatesFromAnyServer>",
            "<AuthorizedServerList>",
            "<ServerName>s</ServerName></AuthorizedServerList></UpdatePolicy>",
        }),
        written());
}

TEST_F(PolicyFileLayout, OnlyUpdateGroupPoliciesFollowTheRootDirectly)
{
    ASSERT_TRUE(XmlLocalPWPolMgr::writeLocalPolicy({}, {{L"AllowVPNProfileUpdatesFromAnyServer", L"true"}}));
    EXPECT_EQ(PolicyFile({"<UpdatePolicy>",
                          "<AllowVPNProfileUpdatesFromAnyServer>true</AllowVPNProfileUpdatesFromAnyServer>"
                          "</UpdatePolicy>"}),
              written());
}

TEST_F(PolicyFileLayout, ServerListSplitting)
{
    const auto serversOf = [this](const std::wstring& list)
    {
        EXPECT_TRUE(XmlLocalPWPolMgr::writeLocalPolicy({}, {{L"AuthorizedServerList", list}}));
        return written();
    };
    EXPECT_EQ(PolicyFile({"<UpdatePolicy>", "<AuthorizedServerList>", "<ServerName>a</ServerName>",
                          "<ServerName>b</ServerName></AuthorizedServerList></UpdatePolicy>"}),
              serversOf(L";;a,,b;"));
    EXPECT_EQ(PolicyFile({"<UpdatePolicy>", "<AuthorizedServerList></AuthorizedServerList></UpdatePolicy>"}),
              serversOf(L";,"));
    EXPECT_EQ(PolicyFile({"<UpdatePolicy>", "<AuthorizedServerList>", "<ServerName>a</ServerName>",
                          "<ServerName> b</ServerName></AuthorizedServerList></UpdatePolicy>"}),
              serversOf(L"a, b"));
    EXPECT_EQ(
        PolicyFile({"<UpdatePolicy>", "<AuthorizedServerList>", "<ServerName><![CDATA[x&y]]></ServerName>",
                    "<ServerName>x>y</ServerName></AuthorizedServerList></UpdatePolicy>"}),
        serversOf(L"x&y;x>y"));
}

// Regression: a server name holding "]]>" but neither "&" nor "<" was written as plain text; the
// file replaced the good one although no parser could read it.
TEST_F(PolicyFileLayout, ServerNameWithSectionEndMadeAFileNoParserAccepts)
{
    ASSERT_TRUE(Generate(manager, {L"upal=a]]>b;]]>,x]]", L"fm=true"}));
    EXPECT_EQ(PolicyFile({"<FipsMode>true</FipsMode>", "<UpdatePolicy>", "<AuthorizedServerList>",
                          "<ServerName><![CDATA[a]]]]><![CDATA[>b]]></ServerName>",
                          "<ServerName><![CDATA[]]]]><![CDATA[>]]></ServerName>",
                          "<ServerName>x]]</ServerName></AuthorizedServerList></UpdatePolicy>"}),
              written());

    ASSERT_EQ(0u, manager.loadLocalPolicy());
    EXPECT_TRUE(manager.getLocalPolicyInfo().getFipsMode());
    EXPECT_EQ((std::vector<std::wstring>{L"a]]>b", L"]]>", L"x]]"}),
              manager.getLocalPolicyInfo().getAuthorizedServers());
    EXPECT_THAT(LoggedEntries(log), ::testing::Each(SchemaFeatureRefused()));
}

// --- Writing the file ------------------------------------------------------------------------

// Values that bypass the argument rules still never reach the disk as a broken document.
TEST_F(PolicyFileWrite, TextXmlCannotCarryFailsTheWriteAndKeepsTheOldFile)
{
    ASSERT_TRUE(XmlLocalPWPolMgr::writeLocalPolicy({{L"FipsMode", L"true"}}, {}));
    const std::string before = written();
    log.clear();
    EXPECT_FALSE(XmlLocalPWPolMgr::writeLocalPolicy({{L"FipsMode", L"false"}},
                                                    {{L"AuthorizedServerList", L"good;bad\x01"}}));
    EXPECT_EQ(before, written());
    EXPECT_EQ(std::vector<std::wstring>{L"PathweaveLocalPolicy.xml"},
              ListDirectory(folder.policyDirectory()));

    EXPECT_EQ((std::vector<LoggedEntry>{
                  Failure('E', "PWCSaxWriter::characters", "PWCSaxWriter", "PWCSaxWriter::characters",
                          GLOBAL_ERROR_BAD_PARAMETER, "Text holds a character that XML 1.0 cannot carry"),
                  Failure('E', "XmlLocalPWPolMgr::writeLocalPolicy", "XmlLocalPWPolMgr",
                          "XmlLocalPWPolMgr::buildLocalPolicy", GLOBAL_ERROR_BAD_PARAMETER),
              }),
              LoggedEntries(log));
}

TEST_F(PolicyFileWrite, FailedWriteIsLoggedByTheWriterAndTheManager)
{
    ASSERT_TRUE(XmlLocalPWPolMgr::writeLocalPolicy({{L"FipsMode", L"false"}}, {}));
    const std::string before = written();
    log.clear();
    auto refuseMove = RefuseRename(ERROR_DISK_FULL);
    auto noSleep = OverrideApi(&pw::PlatformApi::Sleep, [](DWORD) {});
    EXPECT_FALSE(Generate(manager, {L"fm=true"}));
    EXPECT_EQ(before, written());
    EXPECT_EQ(std::vector<std::wstring>{L"PathweaveLocalPolicy.xml"},
              ListDirectory(folder.policyDirectory()));

    EXPECT_EQ((std::vector<LoggedEntry>{
                  Failure('E', "PWCSaxWriter::writeDocument", "AtomicFileWriter",
                          "::SetFileInformationByHandle", ERROR_DISK_FULL),
                  kWriteFailed,
              }),
              LoggedEntries(log));
}

TEST(PolicyFileWriteNoFolder, WithoutStoragePathNothingIsWrittenToTheCurrentDirectory)
{
    // Regression: without a policy folder the file was written to the current directory, the write
    // reported success, and a file of that name there then counted as the machine's policy.
    ASSERT_EQ(nullptr, CStoragePath::GetInstance());
    TempDirectory dir;
    ScopedCurrentDirectory cwd(dir.path());
    ASSERT_TRUE(WriteFileBytes(dir.join(L"PathweaveLocalPolicy.xml"), "planted"));
    RecordingEventLog log;
    XmlLocalPWPolMgr manager;
    EXPECT_FALSE(Generate(manager, {L"fm=true"}));
    EXPECT_FALSE(XmlLocalPWPolMgr::localPolicyExists());
    EXPECT_EQ("planted", ReadFileBytes(dir.join(L"PathweaveLocalPolicy.xml")));
    EXPECT_EQ(std::vector<std::wstring>{L"PathweaveLocalPolicy.xml"}, ListDirectory(dir.path()));

    const LoggedEntry noStoragePath =
        Failure('E', "XmlLocalPWPolMgr::getLocalSecurityPolicyDir", "XmlLocalPWPolMgr",
                "CInstanceSmartPtr<StoragePath>", CSTORAGEPATH_ERROR_NO_INSTANCE);
    EXPECT_EQ(
        (std::vector<LoggedEntry>{
            noStoragePath,
            Failure('E', "PWCSaxWriter::writeDocument", "AtomicFileWriter", "PWCSaxWriter::writeDocument",
                    GLOBAL_ERROR_UNEXPECTED,
                    "No folder for PathweaveLocalPolicy.xml: it is not written to the current directory"),
            kWriteFailed,
            noStoragePath,
        }),
        LoggedEntries(log));
}

TEST_F(PolicyFileWrite, UnknownDataFolderFailsTheWrite)
{
    TempDirectory dir;
    ScopedCurrentDirectory cwd(dir.path());
    const auto hidden = OverrideShellFolderFunction(nullptr);
    EXPECT_FALSE(Generate(manager, {L"fm=true"}));
    EXPECT_TRUE(ListDirectory(dir.path()).empty());
    EXPECT_TRUE(ListDirectory(folder.commonAppData()).empty());
    ASSERT_FALSE(log.entries().empty());
    EXPECT_EQ(kWriteFailed, LoggedEntries(log).back());
}

TEST_F(PolicyFileWrite, ProductFoldersBelowTheDataFolderAreCreatedProtected)
{
    CreationRecorder calls;
    ASSERT_TRUE(Generate(manager, {L"fm=true"}));
    EXPECT_EQ(PolicyFile({"<FipsMode>true</FipsMode>"}), written());

    const std::wstring maker = folder.commonAppData() + L"\\Veskar";
    const std::wstring product = maker + L"\\Veskar Pathweave Roamguard Client";
    const std::string protectedFolder = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    ASSERT_EQ(2u, calls.directories().size());
    EXPECT_EQ(maker, calls.directories()[0].path);
    EXPECT_EQ(product, calls.directories()[1].path);
    EXPECT_EQ(protectedFolder, calls.directories()[0].sddl);
    EXPECT_EQ(protectedFolder, calls.directories()[1].sddl);

    // The data folder itself is neither created nor checked; the two product folders are.
    std::vector<std::wstring> checked;
    for (const RecordedCreation& open : calls.files(OPEN_EXISTING))
    {
        if ((open.flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0 && open.path != folder.policyFile())
        {
            checked.push_back(open.path);
        }
    }
    EXPECT_EQ((std::vector<std::wstring>{maker, product}), checked);
    ASSERT_EQ(1u, calls.files(CREATE_NEW).size());
    EXPECT_EQ("O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)", calls.files(CREATE_NEW)[0].sddl);
}

TEST_F(PolicyFileWrite, PlantedProductFolderIsRefusedAndTheOldPolicyKept)
{
    ASSERT_TRUE(XmlLocalPWPolMgr::writeLocalPolicy({{L"FipsMode", L"false"}}, {}));
    const std::string before = written();
    log.clear();
    const auto owner = OverrideOwner(L"S-1-5-21-7-7-7-1001");
    EXPECT_FALSE(Generate(manager, {L"fm=true"}));
    EXPECT_EQ(before, written());
    EXPECT_EQ((std::vector<LoggedEntry>{
                  Failure('E', "CFileSecurity::OpenTrustedFolder", "FileSecurity",
                          "CFileSecurity::OpenTrustedFolder", CFileSecurity::kUntrustedFolder,
                          "Refusing folder " + ToUtf8(folder.commonAppData()) +
                              "\\Veskar: its owner S-1-5-21-7-7-7-1001 is not SYSTEM, Administrators, "
                              "TrustedInstaller or the user running this tool"),
                  kWriteFailed,
              }),
              LoggedEntries(log));
}

// --- Reading the file back -------------------------------------------------------------------

TEST_F(PolicyReader, DefaultRunFileReadsBackWithFipsModeOnly)
{
    StartRoot(manager);
    Element(manager, L"FipsMode", L"true");
    manager.setElementValue(L"\n");
    manager.endElement(L"PathweaveLocalPolicy");

    LocalPWPolicyInfo expected;
    expected.setFipsMode(true);
    expected.setVersion(kPolicyVersionW);
    EXPECT_EQ(expected, manager.getLocalPolicyInfo());
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(PolicyReader, BooleansAreTrueOnlyForExactLowerCaseTrue)
{
    StartRoot(manager);
    Element(manager, L"FipsMode", L"true");
    Element(manager, L"FipsMode", L"TRUE");
    EXPECT_FALSE(manager.getLocalPolicyInfo().getFipsMode());
    Element(manager, L"BypassDownloader", L"true");
    Element(manager, L"BypassDownloader", L"True");
    Element(manager, L"StrictCertificateTrust", L"true");
    Element(manager, L"StrictCertificateTrust", L"false");
    Element(manager, L"EnableCRLCheck", L"true");
    Element(manager, L"fipsmode", L"true");
    Element(manager, L"RestrictWebLaunch", L"true");

    const LocalPWPolicyInfo info = manager.getLocalPolicyInfo();
    EXPECT_FALSE(info.getFipsMode());
    EXPECT_FALSE(info.getBypassDownloader());
    EXPECT_FALSE(info.getStrictCertificateTrust());
    EXPECT_TRUE(info.getEnableCRLCheck());
    EXPECT_TRUE(info.getRestrictWebLaunch());
}

TEST_F(PolicyReader, TextOutsideAnElementOrAfterItsEndIsIgnored)
{
    StartRoot(manager);
    manager.startElement(L"FipsMode");
    manager.endElement(L"FipsMode");
    manager.setElementValue(L"true");
    manager.startElement(L"fipsmode");
    manager.setElementValue(L"true");
    EXPECT_FALSE(manager.getLocalPolicyInfo().getFipsMode());
}

// Regression: the tunnel restriction that the tool itself writes ("IPSec", "TLS") was read back
// as no restriction.
TEST_F(PolicyReader, TextDeliveredInPiecesIsTakenWholeAtTheEndTag)
{
    // Regression: each piece was compared by itself, so "tr" + "ue" read as false.
    StartRoot(manager);
    manager.startElement(L"FipsMode");
    manager.setElementValue(L"tr");
    manager.setElementValue(L"ue");
    EXPECT_FALSE(manager.getLocalPolicyInfo().getFipsMode()) << "nothing is stored before the end tag";
    manager.endElement(L"FipsMode");
    EXPECT_TRUE(manager.getLocalPolicyInfo().getFipsMode());
}

TEST_F(PolicyReader, TextBeforeAndAfterAChildIsTheElementsAndTheChildsTextIsNot)
{
    // Regression: the text read so far was dropped at a child's start tag, so
    // <FipsMode>true<x/></FipsMode> read as off.
    StartRoot(manager);
    manager.startElement(L"FipsMode");
    manager.setElementValue(L"tr");
    Element(manager, L"BypassDownloader", L"true");
    manager.setElementValue(L"ue");
    manager.endElement(L"FipsMode");
    EXPECT_TRUE(manager.getLocalPolicyInfo().getFipsMode());
}

class PolicyReaderTunnelProtocols : public testing::TestWithParam<std::pair<std::wstring, std::int32_t>>
{
};

TEST_P(PolicyReaderTunnelProtocols, ReadBothTheWrittenAndTheLowerCaseForms)
{
    XmlLocalPWPolMgr manager;
    StartRoot(manager);
    Element(manager, L"RestrictTunnelProtocols", L"tls");
    Element(manager, L"RestrictTunnelProtocols", L"IPSec");
    Element(manager, L"RestrictTunnelProtocols", GetParam().first);
    EXPECT_EQ(GetParam().second, manager.getLocalPolicyInfo().getRestrictTunnelProtocols());
}

INSTANTIATE_TEST_SUITE_P(WrittenAndLowerCase, PolicyReaderTunnelProtocols,
                         testing::Values(std::make_pair(L"IPSec", 2), std::make_pair(L"ipsec", 2),
                                         std::make_pair(L"TLS", 1), std::make_pair(L"tls", 1),
                                         std::make_pair(L"false", 0)));

TEST_F(PolicyReader, TunnelProtocolsInOtherFormsKeepTheField)
{
    Element(manager, L"RestrictTunnelProtocols", L"TLS");
    for (const wchar_t* other : {L"Ipsec", L"Tls", L"", L"true"})
    {
        Element(manager, L"RestrictTunnelProtocols", other);
        EXPECT_EQ(1, manager.getLocalPolicyInfo().getRestrictTunnelProtocols()) << other;
    }
}

TEST_F(PolicyReader, PreferenceCachingCodesAndUnknownTextKeepsTheField)
{
    const std::vector<std::pair<std::wstring, std::int32_t>> cases = {
        {L"Thumbprints", 2}, {L"all", 2},   {L"All", 4},
        {L"Credentials", 1}, {L"false", 0}, {L"CredentialsAndThumbprints", 3},
        {L"Other", 3}};
    for (const auto& c : cases)
    {
        Element(manager, L"RestrictPreferenceCaching", c.first);
        EXPECT_EQ(c.second, manager.getLocalPolicyInfo().getRestrictPreferenceCaching()) << c.first;
    }
}

TEST_F(PolicyReader, CertStoreExclusionsAddTheirBitsOnlyForTrue)
{
    Element(manager, L"ExcludeWinNativeCertStore", L"true");
    Element(manager, L"ExcludeMacNativeCertStore", L"false");
    Element(manager, L"ExcludePemFileCertStore", L"TRUE");
    Element(manager, L"ExcludeFirefoxNSSCertStore", L"true");
    Element(manager, L"ExcludeWinNativeCertStore", L"false");
    EXPECT_EQ(0xCBu, manager.getLocalPolicyInfo().getExcludedCertStores());
    Element(manager, L"ExcludeMacNativeCertStore", L"true");
    Element(manager, L"ExcludePemFileCertStore", L"true");
    EXPECT_EQ(0x2DCFu, manager.getLocalPolicyInfo().getExcludedCertStores());
}

TEST_F(PolicyReader, UpdatePoliciesCountOnlyInsideTheUpdateGroup)
{
    StartRoot(manager);
    Element(manager, L"AllowVPNProfileUpdatesFromAnyServer", L"false");
    EXPECT_TRUE(manager.getLocalPolicyInfo().getAllowVPNProfileUpdatesFromAnyServer());
    EXPECT_EQ(std::vector<LoggedEntry>{kStructureWarning}, LoggedEntries(log));

    log.clear();
    manager.startElement(L"UpdatePolicy");
    Element(manager, L"AllowSoftwareUpdatesFromAnyServer", L"false");
    Element(manager, L"AllowComplianceModuleUpdatesFromAnyServer", L"False");
    Element(manager, L"AllowVPNProfileUpdatesFromAnyServer", L"no");
    Element(manager, L"AllowZKRProfileUpdatesFromAnyServer", L"true");
    Element(manager, L"AllowServiceProfileUpdatesFromAnyServer", L"false");
    // Top-level policies are accepted inside the group too.
    Element(manager, L"FipsMode", L"true");
    manager.endElement(L"UpdatePolicy");
    Element(manager, L"AllowZKRProfileUpdatesFromAnyServer", L"false");

    const LocalPWPolicyInfo info = manager.getLocalPolicyInfo();
    EXPECT_FALSE(info.getAllowSoftwareUpdatesFromAnyServer());
    EXPECT_FALSE(info.getAllowComplianceModuleUpdatesFromAnyServer());
    EXPECT_FALSE(info.getAllowVPNProfileUpdatesFromAnyServer());
    EXPECT_TRUE(info.getAllowZKRProfileUpdatesFromAnyServer());
    EXPECT_FALSE(info.getAllowServiceProfileUpdatesFromAnyServer());
    EXPECT_TRUE(info.getFipsMode());
    EXPECT_EQ(std::vector<LoggedEntry>{kStructureWarning}, LoggedEntries(log));
}

namespace
{
// The enumerated policies; the server list is read from its children (tested below).
std::vector<const PolicyDefinition*> EnumeratedPolicies()
{
    std::vector<const PolicyDefinition*> policies;
    for (const auto& entry : LocalPWPolicyTable::byAbbreviation())
    {
        if (!entry.second.allowedValues.empty())
        {
            policies.push_back(&entry.second);
        }
    }
    return policies;
}

std::string ElementName(const testing::TestParamInfo<const PolicyDefinition*>& info)
{
    return ToUtf8(info.param->policyName);
}

// The record after one element with text, read directly under the root or inside the update group.
LocalPWPolicyInfo ReadOne(const std::wstring& name, const std::wstring& text, bool inGroup)
{
    XmlLocalPWPolMgr manager;
    StartRoot(manager);
    if (inGroup)
    {
        manager.startElement(L"UpdatePolicy");
    }
    Element(manager, name, text);
    if (inGroup)
    {
        manager.endElement(L"UpdatePolicy");
    }
    return manager.getLocalPolicyInfo();
}
} // namespace

class PolicyReaderElement : public testing::TestWithParam<const PolicyDefinition*>
{
};

// An update-group policy outside the group draws the structure warning and changes nothing; a
// top-level policy is read wherever it stands without a warning. Inside the group every policy is
// read, and some value of each changes the record.
TEST_P(PolicyReaderElement, CountsWhereItsGroupAllows)
{
    const PolicyDefinition& policy = *GetParam();
    LocalPWPolicyInfo unchanged;
    unchanged.setVersion(kPolicyVersionW);
    bool changes = false;
    for (const std::wstring& value : policy.allowedValues)
    {
        SCOPED_TRACE(ToUtf8(value));
        RecordingEventLog log;
        const LocalPWPolicyInfo outside = ReadOne(policy.policyName, value, false);
        if (policy.updateGroup)
        {
            EXPECT_EQ(unchanged, outside);
            EXPECT_EQ(std::vector<LoggedEntry>{kStructureWarning}, LoggedEntries(log));
        }
        else
        {
            EXPECT_EQ(ReadOne(policy.policyName, value, true), outside);
            EXPECT_TRUE(log.entries().empty());
        }
        log.clear();
        changes = changes || ReadOne(policy.policyName, value, true) != unchanged;
        EXPECT_TRUE(log.entries().empty());
    }
    EXPECT_TRUE(changes);
}

INSTANTIATE_TEST_SUITE_P(EveryEnumeratedPolicy, PolicyReaderElement, testing::ValuesIn(EnumeratedPolicies()),
                         ElementName);

TEST_F(PolicyReader, ServersCountOnlyInAListInsideTheUpdateGroup)
{
    StartRoot(manager);
    manager.startElement(L"AuthorizedServerList");
    Element(manager, L"ServerName", L"outside");
    manager.endElement(L"AuthorizedServerList");
    Element(manager, L"ServerName", L"loose");
    manager.startElement(L"UpdatePolicy");
    Element(manager, L"ServerName", L"loose too");
    manager.startElement(L"AuthorizedServerList");
    manager.setElementValue(L"list text");
    Element(manager, L"ServerName", L"s2");
    manager.setElementValue(L"\n");
    manager.startElement(L"ServerName");
    manager.setElementValue(L"s1");
    manager.setElementValue(L"&more");
    manager.endElement(L"ServerName");
    manager.endElement(L"AuthorizedServerList");
    Element(manager, L"ServerName", L"after");
    manager.endElement(L"UpdatePolicy");

    // Regression: a name delivered in pieces was stored as one server per piece.
    EXPECT_EQ((std::vector<std::wstring>{L"s2", L"s1&more"}),
              manager.getLocalPolicyInfo().getAuthorizedServers());
    EXPECT_THAT(LoggedEntries(log), ::testing::Each(SchemaFeatureRefused()));
}

struct RootVersion
{
    std::wstring version;
    bool newer;
};

void PrintTo(const RootVersion& root, std::ostream* os)
{
    *os << '"' << ToUtf8(root.version) << (root.newer ? "\" (newer)" : "\" (not newer)");
}

class PolicyReaderRootVersion : public testing::TestWithParam<RootVersion>
{
};

TEST_P(PolicyReaderRootVersion, OnlyANewerVersionDrawsTheWarning)
{
    RecordingEventLog log;
    XmlLocalPWPolMgr manager;
    StartRoot(manager, GetParam().version);
    EXPECT_EQ(GetParam().version, manager.getLocalPolicyInfo().getVersion());
    std::vector<LoggedEntry> expected;
    if (GetParam().newer)
    {
        expected.push_back(kNewerVersionWarning);
    }
    EXPECT_EQ(expected, LoggedEntries(log));
}

namespace
{
// Versions around this build's, major.minor.build with the build in five digits.
std::vector<RootVersion> RootVersions()
{
    const long major = PW_VERSION_MAJOR;
    const long minor = PW_VERSION_MINOR;
    const long build = PW_VERSION_BUILD;
    const auto text = [](long a, long b, long c)
    {
        wchar_t version[48] = {};
        swprintf(version, 48, L"%ld.%ld.%05ld", a, b, c);
        return std::wstring(version);
    };
    const std::wstring current = kPolicyVersionW;
    const std::wstring unpadded = std::to_wstring(major) + L"." + std::to_wstring(minor) + L".";
    return {{text(major, minor, build + 1), true},
            {std::to_wstring(major) + L"." + std::to_wstring(minor + 1), true},
            {std::to_wstring(major + 1), true},
            {std::to_wstring(major) + L"," + std::to_wstring(minor + 1), true},
            {current + L".1", true},
            {L" " + unpadded + std::to_wstring(build + 1) + L"x", true},
            {unpadded + std::to_wstring(build), false},
            {current + L".0", false},
            {text(major - 1, 9, 99999), false},
            {L"", false},
            {unpadded + L"-1", false},
            {current + L".abc", false}};
}
} // namespace

INSTANTIATE_TEST_SUITE_P(NewerAndNot, PolicyReaderRootVersion, testing::ValuesIn(RootVersions()));

TEST_F(PolicyReader, VersionIsTakenOnlyFromTheRootsVersionAttribute)
{
    manager.startElement(L"PathweaveLocalPolicy");
    manager.addAttribute(L"version", L"9");
    manager.addAttribute(L"PWVersion", L"9");
    EXPECT_EQ(L"", manager.getLocalPolicyInfo().getVersion());
    manager.startElement(L"FipsMode");
    manager.addAttribute(L"pwversion", L"9");
    EXPECT_EQ(L"", manager.getLocalPolicyInfo().getVersion());
}

// --- Reading the written file back through the platform's SAX reader ---------------------------
namespace
{
// The record that a file written from these arguments must read back into.
LocalPWPolicyInfo AllPoliciesRecord(bool on, const std::wstring& tunnel)
{
    LocalPWPolicyInfo record;
    record.setVersion(kPolicyVersionW);
    record.setFipsMode(on);
    record.setBypassDownloader(on);
    record.setRestrictWebLaunch(on);
    record.setStrictCertificateTrust(on);
    record.setEnableCRLCheck(on);
    record.setRestrictPreferenceCaching(on ? 3 : 1);
    record.setRestrictTunnelProtocols(tunnel == L"TLS" ? 1 : 2);
    if (on)
    {
        record.addExcludedCertStores(0xC3 | 0x2104 | 0xC00 | 0x8);
    }
    record.setAllowSoftwareUpdatesFromAnyServer(!on);
    record.setAllowComplianceModuleUpdatesFromAnyServer(!on);
    record.setAllowVPNProfileUpdatesFromAnyServer(!on);
    record.setAllowZKRProfileUpdatesFromAnyServer(!on);
    record.setAllowServiceProfileUpdatesFromAnyServer(!on);
    record.addAuthorizedServer(L"b.example");
    record.addAuthorizedServer(L"a&b");
    record.addAuthorizedServer(L"caf\u00e9");
    return record;
}
} // namespace

class PolicyReadBackAll : public PolicyManager,
                          public testing::WithParamInterface<std::tuple<bool, const wchar_t*>>
{
};

TEST_P(PolicyReadBackAll, EveryPolicyReadsBackIntoTheRecordItCameFrom)
{
    const bool on = std::get<0>(GetParam());
    const std::wstring tunnel = std::get<1>(GetParam());
    const std::wstring b = on ? L"true" : L"false";
    const std::wstring nb = on ? L"false" : L"true";
    const std::vector<std::wstring> args = {L"fm=" + b,
                                            L"bd=" + b,
                                            L"rwl=" + b,
                                            L"sct=" + b,
                                            L"ecc=" + b,
                                            std::wstring(L"rpc=") +
                                                (on ? L"CredentialsAndThumbprints" : L"Credentials"),
                                            L"rtp=" + tunnel,
                                            L"efn=" + b,
                                            L"epf=" + b,
                                            L"emn=" + b,
                                            L"ewn=" + b,
                                            L"upsu=" + nb,
                                            L"upcu=" + nb,
                                            L"upvp=" + nb,
                                            L"upip=" + nb,
                                            L"upsp=" + nb,
                                            L"upal=b.example;a&b,caf\u00e9"};
    std::vector<const wchar_t*> argv;
    for (const std::wstring& a : args)
    {
        argv.push_back(a.c_str());
    }
    ASSERT_TRUE(Generate(manager, argv));
    ASSERT_EQ(0u, manager.loadLocalPolicy());
    // Regression: the tunnel restriction is written as "TLS" or "IPSec" and was read back as
    // no restriction.
    EXPECT_EQ(AllPoliciesRecord(on, tunnel == L"TLS" || tunnel == L"tls" ? L"TLS" : L"IPSec"),
              manager.getLocalPolicyInfo());
    EXPECT_THAT(LoggedEntries(log), ::testing::Each(SchemaFeatureRefused()));
}

INSTANTIATE_TEST_SUITE_P(OnAndOffWithEachTunnel, PolicyReadBackAll,
                         testing::Combine(testing::Bool(),
                                          testing::Values(L"TLS", L"IPSec", L"tls", L"ipsec")));

TEST_F(PolicyReadBack, NoFileLeavesTheDefaults)
{
    Element(manager, L"FipsMode", L"true"); // a previous load's value is reset
    EXPECT_EQ(0u, manager.loadLocalPolicy());
    EXPECT_EQ(LocalPWPolicyInfo(), manager.getLocalPolicyInfo());
}

TEST_F(PolicyReadBack, FileThatIsNotWellFormedFailsTheLoad)
{
    ASSERT_TRUE(folder.createPolicyDirectory());
    ASSERT_TRUE(WriteFileBytes(folder.policyFile(), PolicyFile({"<FipsMode>true</FipsMode>", "<Broken>"})));
    EXPECT_EQ(GLOBAL_ERROR_UNEXPECTED, manager.loadLocalPolicy());
    EXPECT_TRUE(manager.getLocalPolicyInfo().getFipsMode()) << "values read before the error stay";
    EXPECT_TRUE(log.contains("Invoked Function: ISAXXMLReader::parse"));
}

// A policy file that another opener holds for the moment, as a rename over it holds it for delete,
// is read once it is free again; pauses go through the seam and are recorded.
class PolicyReadBackInUse : public PolicyManager
{
protected:
    void SetUp() override { ASSERT_TRUE(XmlLocalPWPolMgr::writeLocalPolicy({{L"FipsMode", L"true"}}, {})); }
    ~PolicyReadBackInUse() override
    {
        if (holder != INVALID_HANDLE_VALUE)
        {
            ::CloseHandle(holder);
        }
    }

    // Opens the file for delete as a rename that replaces it does, which keeps out every reader
    // that does not share delete access.
    void holdForReplacing()
    {
        holder = ::CreateFileW(folder.policyFile().c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    }
    // Refuses the first opens of the policy file with error.
    OverrideSet refuseOpens(int count, DWORD error)
    {
        return FailCalls(&pw::PlatformApi::CreateFileW, error, INVALID_HANDLE_VALUE,
                         [count, refused = std::make_shared<int>(0)](LPCWSTR name, auto...)
                         { return EndsWith(name, L".xml") && (*refused)++ < count; });
    }
    std::vector<LoggedEntry> problems() const
    {
        return LoggedEntries(log, [](const LoggedEntry& entry) { return entry.level != 'I'; });
    }

    HANDLE holder = INVALID_HANDLE_VALUE;
    size_t releaseAfter = 0; // the pause after which the holder lets go; 0: never
    std::vector<DWORD> pauses;
    ApiOverride<void(DWORD)> pause =
        OverrideApi(&pw::PlatformApi::Sleep,
                    [this](DWORD ms)
                    {
                        pauses.push_back(ms);
                        if (pauses.size() == releaseAfter && holder != INVALID_HANDLE_VALUE)
                        {
                            ::CloseHandle(std::exchange(holder, INVALID_HANDLE_VALUE));
                        }
                    });
};

TEST_F(PolicyReadBackInUse, IsReadOnceTheOtherOpenerLetsGo)
{
    holdForReplacing();
    releaseAfter = 2;
    EXPECT_EQ(0u, manager.loadLocalPolicy());
    EXPECT_EQ((std::vector<DWORD>{50, 50}), pauses);
    EXPECT_TRUE(manager.getLocalPolicyInfo().getFipsMode());
    EXPECT_EQ(std::vector<LoggedEntry>(), problems());
}

TEST_F(PolicyReadBackInUse, GivesUpAfterTwentyAttemptsWithTheErrorLogged)
{
    holdForReplacing();
    EXPECT_EQ(static_cast<ResultCode>(ERROR_SHARING_VIOLATION), manager.loadLocalPolicy());
    EXPECT_EQ(19u, pauses.size());
    EXPECT_FALSE(manager.getLocalPolicyInfo().getFipsMode()) << "nothing is parsed";
    EXPECT_EQ(std::vector<LoggedEntry>{Failure('E', "XmlLocalPWPolMgr::loadLocalPolicy", "XmlLocalPWPolMgr",
                                               "CFileSecurity::InspectFile", ERROR_SHARING_VIOLATION,
                                               "Cannot read " + ToUtf8(folder.policyFile()))},
              problems());
}

TEST_F(PolicyReadBackInUse, MissingFileOrFolderIsNoFileInUse)
{
    ASSERT_TRUE(::DeleteFileW(folder.policyFile().c_str()));
    EXPECT_EQ(0u, manager.loadLocalPolicy());
    ASSERT_TRUE(::RemoveDirectoryW(folder.policyDirectory().c_str()));
    EXPECT_EQ(0u, manager.loadLocalPolicy());
    EXPECT_TRUE(pauses.empty());
    EXPECT_EQ(std::vector<LoggedEntry>(), problems());
}

TEST_F(PolicyReadBackInUse, RefusedAccessIsNoFileInUseAndFailsAtOnce)
{
    // Regression: a refused access was taken for a file in use and tried again for a second.
    const OverrideSet refuse = refuseOpens(100, ERROR_ACCESS_DENIED);
    EXPECT_EQ(static_cast<ResultCode>(ERROR_ACCESS_DENIED), manager.loadLocalPolicy());
    EXPECT_TRUE(pauses.empty());
    EXPECT_FALSE(manager.getLocalPolicyInfo().getFipsMode()) << "nothing is parsed";
}

TEST_F(PolicyReadBackInUse, EachErrorOfAFileInUseIsTriedAgain)
{
    for (const DWORD error : {ERROR_LOCK_VIOLATION, ERROR_SHARING_VIOLATION})
    {
        pauses.clear();
        const OverrideSet refuse = refuseOpens(3, error);
        EXPECT_EQ(0u, manager.loadLocalPolicy());
        EXPECT_EQ(3u, pauses.size());
        EXPECT_TRUE(manager.getLocalPolicyInfo().getFipsMode());
    }
}

// The file is opened once before the reader opens it by its path, and that one handle, with the
// folders on its way, holds it against writers until the parse is done.
TEST_F(PolicyReadBackInUse, FileAndFoldersAreHeldFromTheOneOpenUntilTheParseIsDone)
{
    struct WatchingManager : XmlLocalPWPolMgr
    {
        void startElement(const std::wstring& name) override
        {
            // Another run that begins to replace the file opens it for delete, as the rename does.
            const HANDLE writer = ::CreateFileW(file.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            fileHeld = writer == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_SHARING_VIOLATION;
            ::CloseHandle(writer);
            const std::wstring moved = folderPath.substr(0, folderPath.size() - 1) + L" moved";
            folderHeld = !::MoveFileW(folderPath.c_str(), moved.c_str()) ||
                         !::MoveFileW(moved.c_str(), folderPath.c_str());
            XmlLocalPWPolMgr::startElement(name);
        }
        std::wstring file, folderPath;
        bool fileHeld = false, folderHeld = false;
    } watching;
    watching.file = folder.policyFile();
    watching.folderPath = folder.policyDirectory();
    int opens = 0;
    const OverrideSet count = FailCalls(&pw::PlatformApi::CreateFileW, 0, INVALID_HANDLE_VALUE,
                                        [&opens](LPCWSTR name, auto...) {
                                            return (opens += EndsWith(name, L"PathweaveLocalPolicy.xml")) < 0;
                                        });
    EXPECT_EQ(0u, watching.loadLocalPolicy());
    EXPECT_EQ(1, opens);
    EXPECT_TRUE(watching.fileHeld && watching.folderHeld);
    holdForReplacing(); // let go after the parse
}

TEST_F(PolicyReadBack, MisplacedUpdatePolicyAndNewerVersionWarnButLoad)
{
    ASSERT_TRUE(folder.createPolicyDirectory());
    const std::string newer = kPolicyVersion + std::string(".1");
    ASSERT_TRUE(WriteFileBytes(
        folder.policyFile(),
        PolicyFile({"<AllowVPNProfileUpdatesFromAnyServer>false</AllowVPNProfileUpdatesFromAnyServer>",
                    "<AuthorizedServerList><ServerName>x</ServerName></AuthorizedServerList>",
                    "<fipsmode>true</fipsmode>"},
                   newer)));

    EXPECT_EQ(0u, manager.loadLocalPolicy());
    LocalPWPolicyInfo expected;
    expected.setVersion(std::wstring(newer.begin(), newer.end()));
    EXPECT_EQ(expected, manager.getLocalPolicyInfo());
    EXPECT_EQ(
        (std::vector<LoggedEntry>{kNewerVersionWarning, kStructureWarning}),
        LoggedEntries(log, [](const LoggedEntry& entry) { return !SchemaFeatureRefused().Matches(entry); }));
}

// Files found beside the policy. A policy file that someone else owns was planted: the run replaces
// it with a warning, and a policy that is not a plain file of a trusted account is never parsed. A
// schema reaches the elevated reader only when it is a plain file of a trusted account that no one
// else may change; without one the reader is asked to load none.
struct FoundFiles
{
    const char* name;
    // Makes the schema, or what stands in its place, and fakes what Windows would report of it.
    std::shared_ptr<void> (*prepare)(const std::wstring& schema);
    ResultCode loaded;
    bool schemaUsed;
    // The warnings and errors, level first, with "{P}", "{S}" and "{D}" for the policy's, the schema's
    // and the policy directory's path.
    std::vector<std::string> entries;
    bool onlyRead = false; // the fakes come after the write: what the read-back alone sees
};

class PolicyFoundFiles : public PolicyManager, public ::testing::WithParamInterface<FoundFiles>
{
};

const std::string kNotTrusted = " belongs to S-1-5-21-7-7-7-1001, not to SYSTEM, Administrators, "
                                "TrustedInstaller or the user running this tool";

// A schema whose root goes on with rest, written as a plain file.
std::shared_ptr<void> SchemaText(const std::wstring& schema, const char* rest)
{
    EXPECT_TRUE(WriteFileBytes(
        schema, std::string("<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"") + rest));
    return nullptr;
}

std::shared_ptr<void> PlainSchema(const std::wstring& schema)
{
    return SchemaText(schema, " targetNamespace=\"http://www.veskar.com/pathweave/LocalPolicy\"/>");
}

// A plain schema whose owner and DACL are reported as sddl, or the policy file's when schema is empty.
std::shared_ptr<void> Reported(const std::wstring& schema, const wchar_t* sddl)
{
    if (!schema.empty())
    {
        PlainSchema(schema);
    }
    return std::shared_ptr<void>(
        new OwnerOverride(OverrideSecurityOf(schema.empty() ? L".xml" : L".xsd", sddl)));
}

// What stands at the path that ends in suffix is reported as a reparse point.
std::shared_ptr<void> ReparsePoint(const std::wstring& suffix)
{
    return std::shared_ptr<void>(new decltype(ReportAsReparsePoint(suffix))(ReportAsReparsePoint(suffix)));
}

std::shared_ptr<void> LinkedElsewhere(const std::wstring& suffix)
{
    return std::shared_ptr<void>(new decltype(ReportLinkedElsewhere(suffix))(ReportLinkedElsewhere(suffix)));
}

const std::string kNotReadForItsFolder = "E {P} is not read: a folder on its way is not trusted";

TEST_P(PolicyFoundFiles, OnlyTrustedFilesAreTrusted)
{
    const FoundFiles& found = GetParam();
    ASSERT_TRUE(XmlLocalPWPolMgr::writeLocalPolicy({{L"FipsMode", L"false"}}, {}));
    log.clear();
    const std::wstring schema = folder.policyDirectory() + L"PathweaveLocalPolicy.xsd";
    std::shared_ptr<void> fakes = found.onlyRead ? nullptr : found.prepare(schema);
    ASSERT_TRUE(Generate(manager, {L"fm=true"}));
    fakes = found.onlyRead ? found.prepare(schema) : fakes;
    ASSERT_EQ(found.loaded, manager.loadLocalPolicy());
    EXPECT_EQ(found.loaded == 0, manager.getLocalPolicyInfo().getFipsMode());

    std::vector<std::string> entries;
    bool featuresTried = false;
    for (const LoggedEntry& entry : LoggedEntries(log))
    {
        featuresTried = featuresTried || SchemaFeatureRefused().Matches(entry);
        if (!SchemaFeatureRefused().Matches(entry) && entry.level != 'I')
        {
            entries.push_back(std::string(1, entry.level) + " " + entry.text);
        }
    }
    EXPECT_EQ(found.schemaUsed, featuresTried);
    std::vector<std::string> expected;
    for (std::string text : found.entries)
    {
        for (const auto& [token, path] :
             {std::make_pair("{P}", folder.policyFile()), std::make_pair("{S}", schema),
              std::make_pair("{D}", folder.policyDirectory().substr(0, folder.policyDirectory().size() - 1))})
        {
            const size_t at = text.find(token);
            text = at == std::string::npos ? text : text.replace(at, 3, ToUtf8(path));
        }
        expected.push_back(text);
    }
    EXPECT_EQ(expected, entries);
}

// Wine keeps no owners or rights on files and shows no reparse points: those are faked.
INSTANTIATE_TEST_SUITE_P(
    Files, PolicyFoundFiles,
    ::testing::Values(
        FoundFiles{"NoSchema", [](const std::wstring&) { return std::shared_ptr<void>(); }, 0, false, {}},
        FoundFiles{"TrustedSchema", PlainSchema, 0, true, {}},
        FoundFiles{"PlantedPolicy",
                   [](const std::wstring&)
                   { return Reported(L"", L"O:S-1-5-21-7-7-7-1001D:P(A;;FA;;;SY)(A;;FA;;;BA)"); },
                   XmlLocalPWPolMgr::kUntrustedPolicyFile,
                   false,
                   {"W {P}" + kNotTrusted + ": it may have been planted, and is replaced",
                    "E {P} is not read: it" + kNotTrusted}},
        FoundFiles{"PlantedSchema",
                   [](const std::wstring& schema)
                   { return Reported(schema, L"O:S-1-5-21-7-7-7-1001D:P(A;;FA;;;SY)(A;;FA;;;BA)"); },
                   0,
                   false,
                   {"W The policy is read without its schema: {S}: it" + kNotTrusted}},
        FoundFiles{"SchemaUsersMayWrite",
                   [](const std::wstring& schema)
                   { return Reported(schema, L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1201bf;;;BU)"); },
                   0,
                   false,
                   {"W The policy is read without its schema: {S}: it lets BUILTIN\\Users (S-1-5-32-545) "
                    "FILE_WRITE_DATA, FILE_APPEND_DATA, FILE_WRITE_ATTRIBUTES change it"}},
        // Regression: a schema reported as a reparse point was used.
        FoundFiles{"SchemaReparsePoint",
                   [](const std::wstring& schema)
                   {
                       PlainSchema(schema);
                       return ReparsePoint(L".xsd");
                   },
                   0,
                   false,
                   {"W The policy is read without its schema: {S}: it is a folder or a link, not a file"}},
        FoundFiles{
            "SchemaNamingAnother",
            [](const std::wstring& schema)
            { return SchemaText(schema, "><xs:include schemaLocation=\"\\\\s\\x.xsd\"/></xs:schema>"); },
            0,
            false,
            {"W The policy is read without its schema: it includes, imports or redefines another schema, "
             "which is not read"}},
        FoundFiles{"SchemaOfAnotherNamespace",
                   [](const std::wstring& schema)
                   { return SchemaText(schema, " targetNamespace=\"urn:x\"/>"); },
                   0,
                   false,
                   {"W The policy is read without its schema: it is for the namespace \"urn:x\", not "
                    "\"http://www.veskar.com/pathweave/LocalPolicy\""}},
        FoundFiles{"SchemaLinkedElsewhere",
                   [](const std::wstring& schema)
                   {
                       PlainSchema(schema);
                       return LinkedElsewhere(L".xsd");
                   },
                   0,
                   false,
                   {"W The policy is read without its schema: {S}: it is a link: it leads to "
                    "\\\\?\\C:\\Users\\Public\\x.xsd"}},
        FoundFiles{"SchemaFolder",
                   [](const std::wstring& schema)
                   {
                       EXPECT_TRUE(::CreateDirectoryW(schema.c_str(), nullptr));
                       return std::shared_ptr<void>();
                   },
                   0,
                   false,
                   {"W The policy is read without its schema: {S}: it is a folder or a link, not a file"}},
        FoundFiles{"SchemaSecondLink",
                   [](const std::wstring& schema)
                   {
                       PlainSchema(schema);
                       EXPECT_TRUE(::CreateHardLinkW((schema + L".bak").c_str(), schema.c_str(), nullptr));
                       return std::shared_ptr<void>();
                   },
                   0,
                   false,
                   {"W The policy is read without its schema: {S}: it has 2 hard links, so it may be changed "
                    "under another name"}},
        FoundFiles{
            "PolicyUsersMayWrite",
            [](const std::wstring&)
            { return Reported(L"", L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1201bf;;;BU)"); },
            XmlLocalPWPolMgr::kUntrustedPolicyFile,
            false,
            {"E {P} is not read: it lets BUILTIN\\Users (S-1-5-32-545) FILE_WRITE_DATA, FILE_APPEND_DATA, "
             "FILE_WRITE_ATTRIBUTES change it"}},
        // Regression: a file that Users may only change the attributes of (enough to make it a link) and
        // one without a DACL were trusted.
        FoundFiles{
            "PolicyUsersMayChangeAttributes",
            [](const std::wstring&)
            { return Reported(L"", L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1201a9;;;BU)"); },
            XmlLocalPWPolMgr::kUntrustedPolicyFile,
            false,
            {"E {P} is not read: it lets BUILTIN\\Users (S-1-5-32-545) FILE_WRITE_ATTRIBUTES change it"}},
        FoundFiles{"PolicyWithoutDacl",
                   [](const std::wstring&) { return Reported(L"", L"O:BA"); },
                   XmlLocalPWPolMgr::kUntrustedPolicyFile,
                   false,
                   {"E {P} is not read: it lets Everyone (the file has no DACL) change it"}},
        // Regression: a folder that could not be opened was called untrusted, and /status said "off".
        FoundFiles{"FolderThatCannotBeOpened",
                   [](const std::wstring&)
                   {
                       return std::shared_ptr<void>(new OverrideSet(FailCalls(
                           &pw::PlatformApi::CreateFileW, ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE,
                           [](LPCWSTR name, auto...) { return EndsWith(name, L"Roamguard Client"); })));
                   },
                   ERROR_ACCESS_DENIED,
                   false,
                   {"E Cannot open folder {D}"},
                   true},
        FoundFiles{"FolderOfAUser",
                   [](const std::wstring&)
                   {
                       return std::shared_ptr<void>(new OwnerOverride(
                           OverrideSecurityOf(L"Roamguard Client", L"O:S-1-5-21-7-7-7-1001D:P(A;;FA;;;SY)")));
                   },
                   XmlLocalPWPolMgr::kUntrustedPolicyFile,
                   false,
                   {"E Refusing folder {D}: its owner S-1-5-21-7-7-7-1001 is not SYSTEM, Administrators, "
                    "TrustedInstaller or the user running this tool",
                    kNotReadForItsFolder},
                   true},
        FoundFiles{"FolderReparsePoint",
                   [](const std::wstring&) { return ReparsePoint(L"Roamguard Client"); },
                   XmlLocalPWPolMgr::kUntrustedPolicyFile,
                   false,
                   {"E Refusing folder {D}: it is a reparse point (a junction, symbolic link or mount point)",
                    kNotReadForItsFolder},
                   true}),
    [](const ::testing::TestParamInfo<FoundFiles>& info) { return std::string(info.param.name); });
