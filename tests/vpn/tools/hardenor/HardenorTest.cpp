#include "vpn/tools/hardenor/Hardenor.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <regex>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "AgentFixture.h"
#include "HardenorProcess.h"
#include "support/ApiOverride.h"
#include "support/CreationRecorder.h"
#include "support/FileFaults.h"
#include "support/LoggedEntry.h"
#include "support/OverrideSet.h"
#include "support/PolicyDocument.h"
#include "support/PolicyFolderRedirect.h"
#include "support/RecordingEventLog.h"
#include "support/ScopedImpersonation.h"
#include "support/ScriptedConsole.h"
#include "support/ShellFolderOverride.h"
#include "vpn/Common/Logging/EventLogLogger.h"
#include "vpn/Common/Logging/MessageCatalogue.h"
#include "vpn/Common/Platform/StringConvert.h"

namespace
{
const std::string kPrompt = "Local policies have already been configured on this computer. Do you wish to "
                            "continue and overwrite them?[y/N] ";
const DWORD kExitFailure = 0xFFFFFFFF;

std::string CurrentPolicy()
{
    return ReadFileBytes(PolicyFilePath());
}

// Each test starts with no policy file and no agent executable, unless it installs one.
class HardenorMachine : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CreateDirectories(PolicyDirectory());
        RemovePath(PolicyFilePath());
        agent::RemoveExecutable();
    }
    void TearDown() override
    {
        EXPECT_TRUE(FindFiles(PolicyDirectory(), L"*.tmp").empty()) << "no temporary policy file is left";
        KeepWrittenPolicy();
    }

    // Keeps the file a case wrote for the schema check that runs after these tests.
    static void KeepWrittenPolicy()
    {
        const std::wstring folder = BuildDirectory() + L"written-policies\\";
        CreateDirectories(folder);
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::string name = std::string(info->test_suite_name()) + "." + info->name() + ".xml";
        ::CopyFileW(PolicyFilePath().c_str(), (folder + std::wstring(name.begin(), name.end())).c_str(),
                    FALSE);
    }
};

using HardenorPolicyFile = HardenorMachine;
using HardenorPrompt = HardenorMachine;
using HardenorHelp = HardenorMachine;
using HardenorStatus = HardenorMachine;
using HardenorConcurrency = HardenorMachine;
using HardenorAgentCheck = HardenorMachine;
} // namespace

TEST_F(HardenorPolicyFile, NoArgumentsWritesFipsModeAloneAndReportsItEnabled)
{
    const HardenorResult run = RunHardenor({});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(kEnabled, run.output);
    EXPECT_EQ("", run.errors);
    EXPECT_EQ(PolicyFile({"<FipsMode>true</FipsMode>"}), CurrentPolicy());
}

TEST_F(HardenorPolicyFile, UserFipsOffWinsAndIsReportedDisabled)
{
    const HardenorResult run = RunHardenor({L"fm=false", L"bd=true", L"upal=a;b"});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(kDisabled, run.output);
    EXPECT_EQ(PolicyFile({"<BypassDownloader>true</BypassDownloader>", "<FipsMode>false</FipsMode>",
                          "<UpdatePolicy>", "<AuthorizedServerList>", "<ServerName>a</ServerName>",
                          "<ServerName>b</ServerName></AuthorizedServerList></UpdatePolicy>"}),
              CurrentPolicy());
}

namespace
{
// Runs the tool's entry point in this process on console and returns its exit code. A
// RecordingEventLog records its entries.
int RunInProcess(std::vector<std::wstring> arguments, IConsole& console)
{
    arguments.insert(arguments.begin(), L"hardenor.exe");
    std::vector<wchar_t*> argv;
    for (std::wstring& argument : arguments)
    {
        argv.push_back(&argument[0]);
    }
    argv.push_back(nullptr);
    return HardenorMain(static_cast<int>(arguments.size()), argv.data(), console);
}

int RunInProcess(const std::vector<std::wstring>& arguments)
{
    ScriptedConsole console("");
    return RunInProcess(arguments, console);
}

// A free-text entry of the entry point.
LoggedEntry EntryPoint(char level, const std::string& text)
{
    return Message(level, "wmain", "Hardenor", text);
}

// The entries that the entry point wrote itself.
std::vector<LoggedEntry> EntryPointEntries(const RecordingEventLog& log)
{
    return LoggedEntries(log, [](const LoggedEntry& entry) { return entry.function == "wmain"; });
}
} // namespace

TEST_F(HardenorPolicyFile, FipsStateIsLoggedByTheEntryPoint)
{
    {
        RecordingEventLog log(false);
        EXPECT_EQ(0, RunInProcess({L"fm=false"}));
        EXPECT_EQ(std::vector<LoggedEntry>{EntryPoint('I', "user has disabled FIPS mode")},
                  EntryPointEntries(log));
        EXPECT_TRUE(log.contains("ignoring duplicate policy arg FipsMode. The first value will be used"));
    }
    RemovePath(PolicyFilePath());
    {
        RecordingEventLog log(false);
        EXPECT_EQ(0, RunInProcess({}));
        EXPECT_EQ(std::vector<LoggedEntry>{EntryPoint('I', "user has enabled FIPS mode")},
                  EntryPointEntries(log));
    }
    // Over the file that exists now, with no answer to read: /y is no policy argument to warn of.
    RecordingEventLog log(false);
    EXPECT_EQ(0, RunInProcess({L"/y"}));
    EXPECT_FALSE(log.contains("/y"));
}

TEST_F(HardenorPolicyFile, EveryPolicyInItsPlaceWithValuesInTheirOwnForm)
{
    const HardenorResult run =
        RunHardenor({L"upsp=FALSE", L"rtp=ipsec", L"rpc=all",       L"ecc=True", L"sct=true",   L"rwl=false",
                     L"efn=true",   L"epf=false", L"emn=true",      L"ewn=true", L"upsu=false", L"upcu=true",
                     L"upvp=false", L"upip=true", L"upal=s1,s2;s3", L"FM=false", L"fm=yes",     L"",
                     L"zz=1",       L"bd=",       L"ecc=false"});
    EXPECT_EQ(0u, run.exitCode);
    // Regression: the skipped arguments were named only in the event log, under "Successfully".
    EXPECT_EQ(
        "Skipped FM=false: ignoring undefined abbreviation FM\r\nSkipped fm=yes: yes is not an allowed "
        "value for policy FipsMode\r\nSkipped : ignoring invalid argument . Arguments in the form "
        "policy_abbreviation=value expected\r\nSkipped zz=1: ignoring undefined abbreviation zz\r\nSkipped "
        "bd=: no value is given\r\nSkipped ecc=false: ignoring duplicate policy arg EnableCRLCheck. The "
        "first value will be used\r\n" +
            kEnabled,
        run.output);
    EXPECT_EQ(
        PolicyFile(
            {"<EnableCRLCheck>true</EnableCRLCheck>",
             "<ExcludeFirefoxNSSCertStore>true</ExcludeFirefoxNSSCertStore>",
             "<ExcludeMacNativeCertStore>true</ExcludeMacNativeCertStore>",
             "<ExcludePemFileCertStore>false</ExcludePemFileCertStore>",
             "<ExcludeWinNativeCertStore>true</ExcludeWinNativeCertStore>",
             "<FipsMode>true</FipsMode>",
             "<RestrictPreferenceCaching>All</RestrictPreferenceCaching>",
             "<RestrictTunnelProtocols>IPSec</RestrictTunnelProtocols>",
             "<RestrictWebLaunch>false</RestrictWebLaunch>",
             "<StrictCertificateTrust>true</StrictCertificateTrust>",
             "<UpdatePolicy>",
             "<AllowComplianceModuleUpdatesFromAnyServer>true</AllowComplianceModuleUpdatesFromAnyServer>",
             "<AllowServiceProfileUpdatesFromAnyServer>false</AllowServiceProfileUpdatesFromAnyServer>",
             "<AllowSoftwareUpdatesFromAnyServer>false</AllowSoftwareUpdatesFromAnyServer>",
             "<AllowVPNProfileUpdatesFromAnyServer>false</AllowVPNProfileUpdatesFromAnyServer>",
             "<AllowZKRProfileUpdatesFromAnyServer>true</AllowZKRProfileUpdatesFromAnyServer>",
             "<AuthorizedServerList>",
             "<ServerName>s1</ServerName>",
             "<ServerName>s2</ServerName>",
             "<ServerName>s3</ServerName></AuthorizedServerList></UpdatePolicy>"}),
        CurrentPolicy());
}

TEST_F(HardenorPolicyFile, ServerListThatFillsTheCommandLineIsWrittenWhole)
{
    // 32,767 characters is the Windows command-line maximum; leave room for the program's path.
    std::wstring list = L"upal=";
    std::vector<std::string> servers;
    for (int i = 0; list.size() < 31000; ++i)
    {
        const std::string name = "server" + std::to_string(i) + ".example.com";
        servers.push_back("<ServerName>" + name + "</ServerName>");
        list += std::wstring(name.begin(), name.end()) + L";";
    }
    servers.back() += "</AuthorizedServerList></UpdatePolicy>";
    std::vector<std::string> body = {"<FipsMode>true</FipsMode>", "<UpdatePolicy>", "<AuthorizedServerList>"};
    body.insert(body.end(), servers.begin(), servers.end());

    const HardenorResult run = RunHardenor({list});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(kEnabled, run.output);
    EXPECT_EQ(PolicyFile(body), CurrentPolicy());
}

TEST_F(HardenorPolicyFile, NonAsciiServerNameIsWrittenAsUtf8)
{
    const HardenorResult run = RunHardenor({L"upal=caf\u00e9.example;\u4e2d.example"});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(
        PolicyFile({"<FipsMode>true</FipsMode>", "<UpdatePolicy>", "<AuthorizedServerList>",
                    "<ServerName>caf\xC3\xA9.example</ServerName>",
                    "<ServerName>\xE4\xB8\xAD.example</ServerName></AuthorizedServerList></UpdatePolicy>"}),
        CurrentPolicy());
}

// Regression: "]]>" in a server name made a file that no parser accepted; it replaced the good
// file and the run failed.
TEST_F(HardenorPolicyFile, ServerNameWithSectionEndKeepsTheFileReadable)
{
    const HardenorResult run = RunHardenor({L"upal=a]]>b"});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(kEnabled, run.output);
    EXPECT_EQ(PolicyFile({"<FipsMode>true</FipsMode>", "<UpdatePolicy>", "<AuthorizedServerList>",
                          "<ServerName><![CDATA[a]]]]><![CDATA[>b]]></ServerName></AuthorizedServerList>"
                          "</UpdatePolicy>"}),
              CurrentPolicy());
}

TEST_F(HardenorPrompt, AnswersThatDeclineLeaveTheFileAsItWas)
{
    const std::string previous = PolicyFile({"<FipsMode>false</FipsMode>"});
    for (const std::string input : {"n\n", "\n", "N", "x\n"})
    {
        ASSERT_TRUE(WriteFileBytes(PolicyFilePath(), previous));
        const HardenorResult run = RunHardenor({L"bd=true", L"rtp=ipsec4"}, input);
        EXPECT_EQ(0u, run.exitCode) << input;
        // A typo is named before the question, so that it can be mended.
        EXPECT_EQ(
            "Skipped rtp=ipsec4: ipsec4 is not an allowed value for policy RestrictTunnelProtocols\r\n" +
                kPrompt,
            run.output)
            << input;
        EXPECT_EQ(previous, CurrentPolicy()) << input;
    }
}

TEST_F(HardenorPrompt, EndOfInputFailsAndLeavesTheFile)
{
    const std::string previous = PolicyFile({"<FipsMode>false</FipsMode>"});
    ASSERT_TRUE(WriteFileBytes(PolicyFilePath(), previous));
    const HardenorResult run = RunHardenor({}, "");
    EXPECT_EQ(kExitFailure, run.exitCode);
    EXPECT_EQ(kPrompt, run.output);
    EXPECT_EQ(previous, CurrentPolicy());
}

TEST_F(HardenorPrompt, AnswersThatBeginWithYAndSlashYOverwrite)
{
    // /y, anywhere: no prompt and nothing read (standard input is at its end); with no file, a plain run.
    const std::tuple<std::vector<std::wstring>, std::string, bool> cases[] = {
        {{L"bd=true"}, "y\n", true},      {{L"bd=true"}, "Y\n", true},
        {{L"bd=true"}, "yes\n", true},    {{L"/y", L"bd=true"}, "", true},
        {{L"/Y", L"bd=true"}, "", true},  {{L"bd=true", L"-y"}, "", true},
        {{L"bd=true", L"/y"}, "", false}, {{L"\u2013y", L"bd=true"}, "", true}};
    for (const auto& [arguments, input, existing] : cases)
    {
        RemovePath(PolicyFilePath());
        ASSERT_TRUE(!existing ||
                    WriteFileBytes(PolicyFilePath(), PolicyFile({"<FipsMode>false</FipsMode>"})));
        const HardenorResult run = RunHardenor(arguments, input);
        EXPECT_EQ(0u, run.exitCode) << input << existing;
        EXPECT_EQ((input.empty() ? "" : kPrompt) + kEnabled, run.output) << input << existing;
        EXPECT_EQ(PolicyFile({"<BypassDownloader>true</BypassDownloader>", "<FipsMode>true</FipsMode>"}),
                  CurrentPolicy());
    }
}

TEST_F(HardenorPrompt, WholeRunInsideTheTestProcessAnswersOnItsConsole)
{
    const std::string previous = PolicyFile({"<FipsMode>false</FipsMode>"});
    for (const std::string input : {"n\n", "", "yes\n"})
    {
        ASSERT_TRUE(WriteFileBytes(PolicyFilePath(), previous));
        RecordingEventLog log(false);
        ScriptedConsole console(input);
        const bool yes = !input.empty() && input[0] == 'y';
        EXPECT_EQ(input.empty() ? -1 : 0, RunInProcess({}, console)) << input;
        EXPECT_EQ(kPrompt + (yes ? "FIPS Mode has Successfully been Enabled\n" : ""), console.written);
        EXPECT_EQ(yes, CurrentPolicy() != previous) << input;
    }
}

TEST_F(HardenorPrompt, NoPromptWithoutAFileAndNothingIsRead)
{
    // Input is there but must not be consumed: the run does not ask.
    const HardenorResult run = RunHardenor({}, "n\n");
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(kEnabled, run.output);
}

TEST_F(HardenorHelp, HelpArgumentsPrintUsageAndChangeNothing)
{
    for (const std::wstring help : {L"/?", L"-?", L"-h", L"/H", L"--help", L"--HELP", L"-Help"})
    {
        const HardenorResult run = RunHardenor({L"bd=true", help});
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_NE(std::string::npos, run.output.find("Usage: hardenor.exe")) << run.output;
        EXPECT_NE(std::string::npos, run.output.find("upal")) << run.output;
        EXPECT_NE(std::string::npos, run.output.find("AuthorizedServerList")) << run.output;
        const std::regex tunnelRow("\n  rtp +RestrictTunnelProtocols +false \\| TLS \\| IPSec\r\n");
        EXPECT_TRUE(std::regex_search(run.output, tunnelRow)) << run.output;
        EXPECT_NE(std::string::npos, run.output.find("hardenor.exe /status")) << run.output;
        EXPECT_EQ(std::string::npos, run.output.find("FIPS Mode has")) << run.output;
        EXPECT_FALSE(FileExists(PolicyFilePath()));
    }
}

TEST_F(HardenorStatus, ReportsWhatThePolicyFileSaysAndChangesNothing)
{
    // With the agent installed, a restart would show on the console.
    ASSERT_TRUE(agent::Install());
    // The switch in any case, with / or -: a mistyped /status that wrote the policy would turn a
    // detection rule into a remediation.
    const std::tuple<const wchar_t*, std::string, std::pair<DWORD, std::string>> cases[] = {
        {L"/status", PolicyFile({"<FipsMode>true</FipsMode>"}), {0, "FIPS mode is on\r\nfm=true\r\n"}},
        {L"/STATUS",
         PolicyFile({"<BypassDownloader>true</BypassDownloader>", "<FipsMode>false</FipsMode>"}),
         {1, "FIPS mode is off\r\nbd=true\r\nfm=false\r\n"}},
        {L"-status",
         PolicyFile({"<FipsMode>true</FipsMode"}),
         {kExitFailure, "The local policy file could not be read\r\n"}},
        {L"/Status", "", {1, "No local policy file: FIPS mode is off\r\n"}}, // no file
        {L"/STATUS", "", {1, "No local policy file: FIPS mode is off\r\n"}},
        // Larger than any policy: not read, and never "on".
        {L"/status",
         PolicyFile({"<FipsMode>true</FipsMode>" + std::string(16 << 20, ' ')}),
         {kExitFailure, "The local policy file could not be read\r\n"}},
    };
    // Dashes pasted from a document are dashes; a bare switch name is refused. Over no file and a
    // FIPS-on one: nothing asked, written or restarted.
    const std::string usage = "Usage: hardenor.exe", on = PolicyFile({"<FipsMode>true</FipsMode>"});
    const std::string refused = ": a switch begins with / or -\r\n\r\n" + usage;
    std::vector<std::tuple<std::wstring, std::string, std::pair<DWORD, std::string>>> rows(std::begin(cases),
                                                                                           std::end(cases));
    for (const wchar_t* dash : {L"\u2013", L"\u2014", L"\u2212", L"\uff0f"})
    {
        rows.push_back(
            {dash + std::wstring(L"status"), "", {1, "No local policy file: FIPS mode is off\r\n"}});
        rows.push_back({dash + std::wstring(L"status"), on, {0, "FIPS mode is on\r\nfm=true\r\n"}});
    }
    for (const std::string& file : {std::string(), on})
    {
        rows.push_back({L"status", file, {kExitFailure, "Unknown switch status" + refused}});
        rows.push_back({L"STATUS", file, {kExitFailure, "Unknown switch STATUS" + refused}});
        rows.push_back({L"\u2013?", file, {0, usage}});
    }
    for (const auto& [status, file, expected] : rows)
    {
        RemovePath(PolicyFilePath());
        ASSERT_TRUE(file.empty() || WriteFileBytes(PolicyFilePath(), file));
        const HardenorResult run = RunHardenor({L"bd=true", status}, "y\n");
        const size_t usageAt = run.output.find(usage);
        EXPECT_EQ(expected,
                  std::make_pair(
                      run.exitCode,
                      run.output.substr(0, usageAt + (usageAt == std::string::npos ? 0 : usage.size()))));
        EXPECT_EQ(file, CurrentPolicy());
        EXPECT_EQ(!file.empty(), FileExists(PolicyFilePath())) << expected.second;
    }
}

// A detection rule takes "on" only from a file that an administrator wrote, and never takes "cannot
// tell" for "off".
TEST_F(HardenorStatus, UntrustedFileIsNotOnAndUnknownIsNotOff)
{
    const std::string notWritten = "The local policy file was not written by an administrator\n";
    ASSERT_TRUE(WriteFileBytes(PolicyFilePath(), PolicyFile({"<FipsMode>true</FipsMode>"})));
    // Another name of the file, through which whoever made it may change it later.
    ASSERT_TRUE(
        ::CreateHardLinkW((PolicyDirectory() + L"link.xml").c_str(), PolicyFilePath().c_str(), nullptr));
    const HardenorResult linked = RunHardenor({L"/status"});
    RemovePath(PolicyDirectory() + L"link.xml");
    EXPECT_EQ(std::make_pair(DWORD{1}, std::regex_replace(notWritten, std::regex("\n"), "\r\n")),
              std::make_pair(linked.exitCode, linked.output));

    {
        // A file of the administrators that users may write to is theirs as well.
        const auto writable =
            OverrideSecurityOf(L".xml", L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1201bf;;;BU)");
        ScriptedConsole console("");
        EXPECT_EQ(1, RunInProcess({L"/status"}, console));
        EXPECT_EQ(notWritten, console.written);
    }
    {
        // A file that a link made after the folder check leads to is not the file in that folder.
        const auto elsewhere = ReportLinkedElsewhere(L".xml");
        ScriptedConsole console("");
        EXPECT_EQ(1, RunInProcess({L"/status"}, console));
        EXPECT_EQ(notWritten, console.written);
    }
    // A file of a user, which Wine cannot show: /status says so, a run's read-back refuses it; a data
    // folder that Windows cannot tell is no "off".
    RecordingEventLog log(false);
    const auto owner = OverrideSecurityOf(L".xml", L"O:S-1-5-21-7-7-7-1001D:P(A;;FA;;;SY)");
    using Args = std::vector<std::wstring>;
    for (const auto& [arguments, noDataFolder, exitCode, output] :
         {std::make_tuple(Args{L"/status"}, false, 1, notWritten),
          std::make_tuple(Args{}, false, -1, kPrompt + "An Error Occurred While Loading the Policy File\n"),
          std::make_tuple(
              Args{L"/keep"}, false, -1,
              std::string("The local policy file cannot be kept: it was not written by an "
                          "administrator. Nothing was changed; a run without /keep replaces the file.\n")),
          std::make_tuple(Args{L"/status"}, true, -1,
                          std::string("The local policy file could not be read\n"))})
    {
        const std::unique_ptr<ShellFolderOverride> hidden(
            noDataFolder ? new ShellFolderOverride(OverrideShellFolderFunction(nullptr)) : nullptr);
        ScriptedConsole console("y");
        EXPECT_EQ(exitCode, RunInProcess(arguments, console));
        EXPECT_EQ(output, console.written);
    }
    const std::string untrusted =
        ToUtf8(PolicyFilePath()) + " is not read: it belongs to S-1-5-21-7-7-7-1001";
    std::vector<std::string> causes;
    for (const LoggedEntry& entry : LoggedEntries(log))
    {
        if (entry.text.rfind(untrusted, 0) == 0 || entry.invoked == "XmlLocalPWPolMgr::loadLocalPolicy")
        {
            causes.push_back(entry.level + entry.text.substr(0, untrusted.size()));
        }
    }
    EXPECT_EQ((std::vector<std::string>{"W" + untrusted, "E" + untrusted, "E" + untrusted,
                                        "Ecannot tell whether there is a local policy file"}),
              causes);
    EXPECT_EQ(PolicyFile({"<FipsMode>true</FipsMode>"}), CurrentPolicy());
}

namespace
{
// A machine's policies: top-level ones around FIPS mode, the update group and a server list.
std::string MachinePolicies(const std::string& fips, const std::string& tunnel)
{
    return PolicyFile({"<EnableCRLCheck>false</EnableCRLCheck>", "<FipsMode>" + fips + "</FipsMode>",
                       "<RestrictTunnelProtocols>" + tunnel + "</RestrictTunnelProtocols>", "<UpdatePolicy>",
                       "<AllowSoftwareUpdatesFromAnyServer>false</AllowSoftwareUpdatesFromAnyServer>",
                       "<AuthorizedServerList>", "<ServerName>a.example</ServerName>",
                       "<ServerName><![CDATA[b&c]]></ServerName></AuthorizedServerList></UpdatePolicy>"});
}
} // namespace

// /keep replaces only what the command line names, the implied FIPS value included, names each policy
// that it keeps and asks nothing; /status lists the policies as a command line gives them.
TEST_F(HardenorPolicyFile, KeepReplacesOnlyWhatTheCommandLineNames)
{
    const std::string servers = "upal=a.example;b&c";
    const std::string keptRest = "Kept upsu=false\r\nKept " + servers + "\r\n";
    using Args = std::vector<std::wstring>;
    for (const auto& [arguments, before, output, after] :
         {std::make_tuple(Args{L"/keep", L"rtp=tls"}, MachinePolicies("false", "IPSec"),
                          "Kept ecc=false\r\n" + keptRest + kEnabled, MachinePolicies("true", "TLS")),
          std::make_tuple(Args{L"/KEEP"}, MachinePolicies("true", "IPSec"),
                          "Kept ecc=false\r\nKept rtp=IPSec\r\n" + keptRest + kEnabled,
                          MachinePolicies("true", "IPSec")),
          std::make_tuple(Args{L"fm=false", L"-keep"}, MachinePolicies("true", "IPSec"),
                          "Kept ecc=false\r\nKept rtp=IPSec\r\n" + keptRest + kDisabled,
                          MachinePolicies("false", "IPSec")),
          std::make_tuple(Args{L"/keep"}, std::string(), kEnabled,
                          PolicyFile({"<FipsMode>true</FipsMode>"}))})
    {
        RemovePath(PolicyFilePath());
        ASSERT_TRUE(before.empty() || WriteFileBytes(PolicyFilePath(), before));
        const HardenorResult run = RunHardenor(arguments);
        EXPECT_EQ(std::make_pair(DWORD{0}, output), std::make_pair(run.exitCode, run.output));
        EXPECT_EQ(after, CurrentPolicy());
    }
    ASSERT_TRUE(WriteFileBytes(PolicyFilePath(), MachinePolicies("true", "IPSec")));
    const HardenorResult status = RunHardenor({L"/status"});
    EXPECT_EQ("FIPS mode is on\r\necc=false\r\nfm=true\r\nrtp=IPSec\r\nupsu=false\r\n\"" + servers + "\"\r\n",
              status.output);
}

// What cannot be written back as the file holds it stops /keep before anything changes; /y replaces it.
TEST_F(HardenorPolicyFile, KeepStopsAtWhatItCannotWriteBack)
{
    ASSERT_TRUE(agent::Install());
    const std::string whole = MachinePolicies("true", "IPSec");
    const std::string unknown = PolicyFile({"<FipsMode>true</FipsMode>", "<TunnelMtu>1400</TunnelMtu>"});
    for (const auto& [file, cause] :
         {std::make_pair(unknown, "it holds the element TunnelMtu, which is not a policy where it stands"),
          std::make_pair(
              MachinePolicies("true", "GRE"),
              "it holds RestrictTunnelProtocols \"GRE\", a value that the command line does not take"),
          std::make_pair(PolicyFile({"<FipsMode>true</FipsMode>", "<UpdatePolicy>", "<AuthorizedServerList>",
                                     "<ServerName>a,b</ServerName></AuthorizedServerList></UpdatePolicy>"}),
                         "it holds the server name \"a,b\", which a list cannot hold"),
          std::make_pair(whole.substr(0, whole.size() / 2), "it could not be read")})
    {
        ASSERT_TRUE(WriteFileBytes(PolicyFilePath(), file));
        const HardenorResult kept = RunHardenor({L"/keep"});
        EXPECT_EQ(std::make_pair(kExitFailure, "The local policy file cannot be kept: " + std::string(cause) +
                                                   ". Nothing was changed; a run without /keep replaces the "
                                                   "file.\r\n"),
                  std::make_pair(kept.exitCode, kept.output));
        EXPECT_EQ(file, CurrentPolicy());
        const HardenorResult replaced = RunHardenor({L"/y"});
        EXPECT_EQ(0u, replaced.output.rfind(kEnabled + kRestarting, 0)) << replaced.output;
        EXPECT_EQ(PolicyFile({"<FipsMode>true</FipsMode>"}), CurrentPolicy());
    }
    agent::Stop();
    agent::WaitFor(SERVICE_STOPPED);
}

// A mistyped switch never turns into a write: nothing is read, asked, written or restarted, over no
// file or an existing one. Regression: an argument without "=" was skipped with a warning and the run
// wrote and restarted, so a detection rule's /status mangled on its way (a dash in the wrong code
// page, an invisible character before the "/", a misspelling) remediated the machine in every cycle.
TEST_F(HardenorHelp, UnknownSwitchesAndArgumentsWithoutEqualsAreRefusedBeforeAnythingElse)
{
    ASSERT_TRUE(agent::Install());
    using Args = std::vector<std::wstring>;
    std::vector<std::pair<Args, std::wstring>> rows = {
        {{L"/statsu"}, L"Unknown switch /statsu"},
        {{L"/x", L"fm=false"}, L"Unknown switch /x"},
        {{L"fm=false", L"-status:"}, L"Unknown switch -status:"},
        {{L"/quiet", L"/y"}, L"Unknown switch /quiet"},
        {{L"-"}, L"Unknown switch -"}};
    for (const wchar_t* mangled : {L"\u00fbstatus", L"\u00e2\u20ac\u201cstatus", L"\u00adstatus",
                                   L"\ufeff/status", L"\u200b/status", L"statsu", L"status ", L"bd"})
    {
        const std::wstring line =
            L"Unknown argument " + std::wstring(mangled) + L": it is neither a switch nor abbreviation=value";
        rows.push_back({{mangled, L"yes"}, line});
        rows.push_back({{L"/y", L"bd=true", mangled}, line});
    }
    for (const std::string& file : {std::string(), PolicyFile({"<FipsMode>false</FipsMode>"})})
    {
        for (const auto& [arguments, line] : rows)
        {
            RemovePath(PolicyFilePath());
            ASSERT_TRUE(file.empty() || WriteFileBytes(PolicyFilePath(), file));
            const HardenorResult run = RunHardenor(arguments, "y\n");
            // Named as typed, in the code page of output that has no console.
            const std::string named = CNarrowText(line, CP_OEMCP).c_str_or("?");
            EXPECT_EQ(std::make_pair(kExitFailure, named + "\r\n\r\nUsage: hardenor.exe"),
                      std::make_pair(run.exitCode, run.output.substr(0, named.size() + 23)));
            EXPECT_EQ(file, CurrentPolicy()) << named;
        }
    }
    // An empty argument, an empty variable of a script, is skipped and the run goes on.
    RemovePath(PolicyFilePath());
    agent::RemoveExecutable();
    const HardenorResult empty = RunHardenor({L"/y", L"", L"bd=true"});
    EXPECT_EQ(0u, empty.exitCode) << empty.output;
    EXPECT_EQ(PolicyFile({"<BypassDownloader>true</BypassDownloader>", "<FipsMode>true</FipsMode>"}),
              CurrentPolicy());
}

// A copy of the exe is the message file of its event source: the entries' ids render their one text.
TEST(HardenorMessageTable, RendersTheEntriesAndTheirCategory)
{
    const HMODULE exe =
        ::LoadLibraryExW((BuildDirectory() + L"hardenor.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, exe);
    const wchar_t entry[] = L"Function: wmain\nFile: Hardenor\nLine: 7\n%ProgramData% 100%";
    const int severity = FindMessageRecord(MID_DEBUG_MESSAGE).severity;
    const DWORD category = CEventLogLogger::Category(severity);
    for (const DWORD id : {CEventLogLogger::EventId(severity, MID_DEBUG_MESSAGE),
                           CEventLogLogger::EventId(severity, MID_DEBUG_RETURN_CODE), category})
    {
        DWORD_PTR insertions[] = {reinterpret_cast<DWORD_PTR>(entry)};
        wchar_t text[128] = {};
        ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, exe, id, 0, text, 128,
                         reinterpret_cast<va_list*>(insertions));
        EXPECT_EQ(id == category ? L"Diagnostics" : entry, std::wstring(text)) << id;
    }
    ::FreeLibrary(exe);
}

TEST(HardenorPrivilege, CallerWithoutAdministratorRightsIsTurnedAway)
{
    // The thread runs under a token whose Administrators group is for deny checks only, as in a
    // non-elevated prompt; the run stops before the storage path, the prompt or any file.
    RemovePath(PolicyFilePath());
    const CUniqueKernelHandle restricted = NonElevatedToken();
    int exitCode = 0;
    {
        RecordingEventLog log(false);
        {
            CScopedImpersonation nonElevated(restricted.get());
            exitCode = RunInProcess({});
        }
        EXPECT_EQ(std::vector<LoggedEntry>{EntryPoint('I', "user does not have necessary privileges")},
                  LoggedEntries(log));
    }
    EXPECT_EQ(-1, exitCode);
    EXPECT_FALSE(FileExists(PolicyFilePath()));
}

namespace
{
// Turns the caller away at the privilege check, the run's first step after the log is open.
OverrideSet RefuseTheCallersToken()
{
    return FailCalls(&pw::PlatformApi::OpenThreadToken, ERROR_ACCESS_DENIED, FALSE);
}
} // namespace

TEST(HardenorDllSearch, SystemFolderOnlyIsSetBeforeAnythingElse)
{
    // Regression: a DLL planted beside hardenor.exe was found by the default search order. The search
    // is restricted to the system folder before any library is loaded, and every library that the run
    // loads comes from there: by the restriction's flag or by its full path.
    wchar_t folder[MAX_PATH] = {};
    const std::wstring system = std::wstring(folder, ::GetSystemDirectoryW(folder, MAX_PATH)) + L"\\";
    for (const std::vector<std::wstring>& arguments :
         {std::vector<std::wstring>{L"/?"}, std::vector<std::wstring>{}})
    {
        RecordingEventLog log(false);
        std::vector<std::wstring> calls; // "restrict <flags>", or the name of a library loaded
        auto restrictSearch = OverrideApi(&pw::PlatformApi::SetDefaultDllDirectories,
                                          [&calls](DWORD flags)
                                          {
                                              calls.push_back(L"restrict " + std::to_wstring(flags));
                                              return TRUE;
                                          });
        auto load = OverrideApi(
            &pw::PlatformApi::LoadLibraryExW,
            [&calls, &system, real = pw::Api().LoadLibraryExW](LPCWSTR name, HANDLE file, DWORD flags)
            {
                calls.push_back(name);
                EXPECT_TRUE((flags & LOAD_LIBRARY_SEARCH_SYSTEM32) != 0 ||
                            std::wstring(name).compare(0, system.size(), system) == 0)
                    << ToUtf8(name) << " is loaded with flags " << flags;
                return real(name, file, flags);
            });
        auto refuse = RefuseTheCallersToken();
        EXPECT_EQ(arguments.empty() ? -1 : 0, RunInProcess(arguments));
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(L"restrict " + std::to_wstring(LOAD_LIBRARY_SEARCH_SYSTEM32), calls[0]);
        EXPECT_EQ(1, std::count(calls.begin(), calls.end(), calls[0]));
        // The run before the privilege check loads its message modules.
        EXPECT_TRUE(!arguments.empty() || calls.size() > 1);
    }
}

TEST(HardenorDllSearch, RefusedRestrictionIsLoggedAndTheRunGoesOn)
{
    RecordingEventLog log(false);
    const OverrideSet restrictSearch =
        FailCalls(&pw::PlatformApi::SetDefaultDllDirectories, ERROR_PROC_NOT_FOUND, FALSE);
    auto refuse = RefuseTheCallersToken();
    EXPECT_EQ(-1, RunInProcess({}));
    EXPECT_EQ((std::vector<LoggedEntry>{
                  Failure('W', "wmain", "Hardenor", "::SetDefaultDllDirectories", ERROR_PROC_NOT_FOUND,
                          "libraries may still be searched for beside the program"),
                  Failure('E', "GetPrivilegeLevel", "Privilege", "::OpenThreadToken", ERROR_ACCESS_DENIED),
                  EntryPoint('I', "user does not have necessary privileges"),
              }),
              LoggedEntries(log));
}

TEST(HardenorExceptions, EscapingExceptionBecomesMinusOneAndAnErrorEntry)
{
    // Regression: an exception leaving the run ended the process with neither -1 nor an entry.
    const std::pair<BOOL (*)(), std::string> escapes[] = {
        {[]() -> BOOL { throw std::runtime_error("token store unavailable"); },
         "unexpected exception: token store unavailable"},
        {[]() -> BOOL { throw 42; }, "unexpected exception of an unknown type"}};
    for (const auto& [raise, text] : escapes)
    {
        RecordingEventLog log(false);
        auto restrictSearch =
            OverrideApi(&pw::PlatformApi::SetDefaultDllDirectories, [](DWORD) { return TRUE; });
        auto token = OverrideApi(&pw::PlatformApi::OpenThreadToken,
                                 [raise = raise](HANDLE, DWORD, BOOL, PHANDLE) { return raise(); });
        EXPECT_EQ(-1, RunInProcess({}));
        EXPECT_EQ(std::vector<LoggedEntry>{EntryPoint('E', text)}, EntryPointEntries(log));
    }
}

// Regression: the reader was handed a URL, in which a data folder named "Data%41B" reads as "DataAB":
// the run failed its read-back, and /status answered -1 from then on.
TEST_F(HardenorPolicyFile, DataFolderWhoseNameReadsAsAUrlIsReadBack)
{
    const PolicyFolderRedirect folder(L"Data%41B#;");
    EXPECT_EQ(0, RunInProcess({L"/y"}));
    EXPECT_EQ(0, RunInProcess({L"/status"}));
    EXPECT_NE(std::string::npos, ReadFileBytes(folder.policyFile()).find("<FipsMode>true</FipsMode>"));
}

TEST_F(HardenorPolicyFile, UnknownDataFolderFailsTheRunAndWritesNoFileHere)
{
    // Regression: the policy was then written to the current directory and the run succeeded.
    TempDirectory cwdDir;
    ScopedCurrentDirectory cwd(cwdDir.path());
    RecordingEventLog log(false);
    const auto hidden = OverrideShellFolderFunction(nullptr);
    EXPECT_EQ(-1, RunInProcess({}));
    EXPECT_EQ(std::vector<LoggedEntry>{EntryPoint('E', "failed to generate local policy file")},
              EntryPointEntries(log));
    EXPECT_TRUE(ListDirectory(cwdDir.path()).empty());
    EXPECT_FALSE(FileExists(PolicyFilePath()));
}

TEST_F(HardenorConcurrency, TwoRunsAtOnceAlwaysLeaveOneWholeDocument)
{
    // Regression: a run's read-back failed now and then (0x800C0005 from the SAX reader) when the
    // other run was replacing the file at that moment, since the reader could not open a file that
    // was held for replacing. Both runs must succeed every time.
    const std::string first =
        PolicyFile({"<BypassDownloader>true</BypassDownloader>", "<FipsMode>true</FipsMode>"});
    const std::string second =
        PolicyFile({"<FipsMode>false</FipsMode>", "<RestrictWebLaunch>true</RestrictWebLaunch>"});
    ASSERT_TRUE(WriteFileBytes(PolicyFilePath(), first));
    // Under Wine a child started with this setting prints its event-log entries, so that a failed
    // run shows why; they appear on this program's standard error. Windows ignores it.
    ::SetEnvironmentVariableW(L"WINEDEBUG", L"-all,+eventlog");
    for (int round = 0; round < 20; ++round)
    {
        HardenorProcess a({L"bd=true"}, "y\n");
        HardenorProcess b({L"fm=false", L"rwl=true"}, "y\n");
        // Read the file while both runs write it: every read sees one whole document.
        for (int i = 0; i < 20; ++i)
        {
            const std::string seen = CurrentPolicy();
            EXPECT_TRUE(seen == first || seen == second) << "round " << round << ": " << seen;
        }
        for (const HardenorResult& run : {a.wait(), b.wait()})
        {
            // Each run reads back whichever of the two documents was there last.
            EXPECT_EQ(0u, run.exitCode) << "round " << round << ": " << run.output;
            EXPECT_TRUE(run.output == kPrompt + kEnabled || run.output == kPrompt + kDisabled)
                << "round " << round << ": " << run.output;
        }
        const std::string final = CurrentPolicy();
        EXPECT_TRUE(final == first || final == second) << "round " << round << ": " << final;
    }
    ::SetEnvironmentVariableW(L"WINEDEBUG", nullptr);
}

namespace
{
// A replace of the policy file that Windows refuses, and what the administrator is told of it.
struct Refusal
{
    const char* name;
    DWORD renameError; // the refusal through the seam; 0 for the real one of what stands there
    bool holderNamed;  // the Restart Manager names Notepad (Wine's is a stub)
    enum Target
    {
        HeldFile,
        ReadOnlyFile,
        Folder
    } target;
    int renames;       // the replaces tried (for refusals through the seam)
    std::string cause; // the console line before the generating message, and the entry's text
    std::string entry;
};

class HardenorPolicyRefused : public HardenorMachine, public ::testing::WithParamInterface<Refusal>
{
};
} // namespace

// Only a sharing or lock violation, or a holder that the Restart Manager names, is "in use": anything
// else would send the administrator looking for a program that does not exist.
TEST_P(HardenorPolicyRefused, TheAdministratorIsToldWhatStandsInTheWay)
{
    const Refusal& refusal = GetParam();
    const bool folder = refusal.target == Refusal::Folder;
    const std::string previous = folder ? "" : PolicyFile({"<FipsMode>false</FipsMode>"});
    ASSERT_TRUE(folder ? ::CreateDirectoryW(PolicyFilePath().c_str(), nullptr) != FALSE
                       : WriteFileBytes(PolicyFilePath(), previous));
    // Users may read the policy; one who holds it without delete sharing blocks every replace.
    const HANDLE reader = refusal.target == Refusal::HeldFile && refusal.renameError == 0
                              ? ::CreateFileW(PolicyFilePath().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                              : nullptr;
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    ASSERT_TRUE(refusal.target != Refusal::ReadOnlyFile ||
                ::SetFileAttributesW(PolicyFilePath().c_str(), FILE_ATTRIBUTE_READONLY));
    RecordingEventLog log(false);
    const auto renames = std::make_shared<int>(0);
    OverrideSet fakes;
    fakes.add(&pw::PlatformApi::Sleep, [](DWORD) {})
        .add(&pw::PlatformApi::RmStartSession,
             [named = refusal.holderNamed](DWORD* session, DWORD, WCHAR*) -> DWORD
             {
                 *session = 7;
                 return named ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
             })
        .add(&pw::PlatformApi::RmRegisterResources,
             [](DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*) -> DWORD
             { return ERROR_SUCCESS; })
        .add(&pw::PlatformApi::RmGetList,
             [](DWORD, UINT* needed, UINT* count, RM_PROCESS_INFO* processes, DWORD*) -> DWORD
             {
                 *needed = 1;
                 if (*count < 1)
                 {
                     return ERROR_MORE_DATA;
                 }
                 *count = 1;
                 processes[0] = RM_PROCESS_INFO{};
                 processes[0].Process.dwProcessId = 4321;
                 wcscpy(processes[0].strAppName, L"Notepad");
                 return ERROR_SUCCESS;
             })
        .add(&pw::PlatformApi::RmEndSession, [](DWORD) -> DWORD { return ERROR_SUCCESS; });
    if (refusal.renameError != 0)
    {
        fakes.add(&pw::PlatformApi::SetFileInformationByHandle, RenameRefuser(refusal.renameError, renames));
    }
    ScriptedConsole console("y");
    const int exitCode = RunInProcess({}, console);
    if (reader != nullptr)
    {
        ::CloseHandle(reader);
    }
    ::SetFileAttributesW(PolicyFilePath().c_str(), FILE_ATTRIBUTE_NORMAL);
    const std::string content = CurrentPolicy();
    ::RemoveDirectoryW(PolicyFilePath().c_str());

    EXPECT_EQ(-1, exitCode);
    EXPECT_EQ((folder ? "" : kPrompt) + refusal.cause +
                  ".\nAn Error Occurred While Generating the Local Policy File\n",
              console.written);
    EXPECT_TRUE(refusal.renameError == 0 || refusal.renames == *renames) << *renames;
    EXPECT_EQ(previous, content);
    const std::vector<LoggedEntry> entries = LoggedEntries(log);
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(),
                            [&](const LoggedEntry& entry)
                            {
                                return entry.level == 'E' &&
                                       entry.invoked == "::SetFileInformationByHandle" &&
                                       entry.text == ToUtf8(PolicyFilePath()) + refusal.entry;
                            }))
        << refusal.entry;
}

const std::string kInUseByAnother = "The local policy file is in use by another program";
const std::string kHeldByAnother = " is in use by another program";
const std::string kInUseByNotepad = "The local policy file is in use by Notepad (process id 4321)";
const std::string kHeldByNotepad = " is in use by Notepad (process id 4321)";

// Regression: a sharing violation no longer counted as a file in use when access denied did; a
// read-only file or a folder in the file's place was reported in use and tried for a second.
INSTANTIATE_TEST_SUITE_P(
    Causes, HardenorPolicyRefused,
    ::testing::Values(Refusal{"ReaderNamed", 0, true, Refusal::HeldFile, 0, kInUseByNotepad, kHeldByNotepad},
                      Refusal{"SharingViolation", ERROR_SHARING_VIOLATION, false, Refusal::HeldFile, 20,
                              kInUseByAnother, kHeldByAnother},
                      Refusal{"LockViolation", ERROR_LOCK_VIOLATION, false, Refusal::HeldFile, 20,
                              kInUseByAnother, kHeldByAnother},
                      Refusal{"AccessDeniedHolderNamed", ERROR_ACCESS_DENIED, true, Refusal::HeldFile, 20,
                              kInUseByNotepad, kHeldByNotepad},
                      Refusal{"AccessDenied", ERROR_ACCESS_DENIED, false, Refusal::HeldFile, 20,
                              "Access to the local policy file was denied",
                              " cannot be replaced: access to it was denied"},
                      // Windows refuses to replace a read-only file; Wine, as root, does not.
                      Refusal{"ReadOnly", ERROR_ACCESS_DENIED, true, Refusal::ReadOnlyFile, 1,
                              "The local policy file is read-only", " cannot be replaced: it is read-only"},
                      Refusal{"Folder", 0, true, Refusal::Folder, 0,
                              "A folder or a link stands where the local policy file belongs",
                              " cannot be replaced: a folder or a link stands in its place"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

// Regression: without the program files folder the agent was looked for under the root of the
// current drive, where any user may create the product's folders.
TEST_F(HardenorAgentCheck, NoProgramFilesFolderMeansNoAgentAndNoProbe)
{
    int probes = 0;
    const auto noShellFolders = OverrideShellFolderFunction(nullptr);
    const auto countProbes = OverrideApi(&pw::PlatformApi::wstat,
                                         [&probes](const wchar_t*, struct _stat*)
                                         {
                                             ++probes;
                                             return 0;
                                         });
    EXPECT_FALSE(isAgentInstalled());
    EXPECT_EQ(0, probes);
}

// A 32-bit tool on 64-bit Windows is given the 32-bit program files folder, and the agent may be a
// 64-bit program under the native one. Under Wine that shows in a 32-bit process; the twin fakes it.
TEST_F(HardenorAgentCheck, UnderWow64TheNativeProgramFilesFolderIsLookedInToo)
{
    if (sizeof(void*) == 4)
    {
        EXPECT_EQ(2u, agentFolders().size()) << "a 32-bit process of a 64-bit prefix runs under WOW64";
    }
    TempDirectory native;
    OverrideSet wow64;
    // An x86 process on ARM64 Windows, which IsWow64Process tells it is not under WOW64.
    wow64
        .add(&pw::PlatformApi::IsWow64Process2,
             [](HANDLE, USHORT* process, USHORT* machine)
             {
                 *process = IMAGE_FILE_MACHINE_I386;
                 *machine = 0xAA64; // IMAGE_FILE_MACHINE_ARM64
                 return TRUE;
             })
        .add(&pw::PlatformApi::IsWow64Process, [](HANDLE, PBOOL yes) { return *yes = FALSE, TRUE; })
        .add(&pw::PlatformApi::RegQueryValueExW,
             [folder = native.path()](HKEY, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data,
                                      LPDWORD size) -> LSTATUS
             {
                 *type = REG_SZ;
                 *size = static_cast<DWORD>(folder.size() * sizeof(wchar_t));
                 std::memcpy(data, folder.c_str(), *size);
                 return std::wcscmp(name, L"ProgramW6432Dir") == 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
             });
    const std::wstring nativeAgent = native.path() + L"\\Veskar\\Veskar Pathweave Roamguard Client\\";
    ASSERT_EQ((std::vector<std::wstring>{AgentDirectory(), nativeAgent}), agentFolders());
    {
        // A process of the machine's own architecture is under no WOW64, whatever the machine.
        const auto native64 = OverrideApi(&pw::PlatformApi::IsWow64Process2,
                                          [](HANDLE, USHORT* process, USHORT* machine)
                                          {
                                              *process = IMAGE_FILE_MACHINE_UNKNOWN;
                                              *machine = IMAGE_FILE_MACHINE_AMD64;
                                              return TRUE;
                                          });
        EXPECT_EQ(std::vector<std::wstring>{AgentDirectory()}, agentFolders());
    }
    {
        // Before Windows 10 1709 there is no IsWow64Process2; IsWow64Process answers.
        const OverrideSet older = FailCalls(&pw::PlatformApi::IsWow64Process2, ERROR_PROC_NOT_FOUND, FALSE);
        const auto yes =
            OverrideApi(&pw::PlatformApi::IsWow64Process, [](HANDLE, PBOOL wow64) { return *wow64 = TRUE; });
        EXPECT_EQ((std::vector<std::wstring>{AgentDirectory(), nativeAgent}), agentFolders());
    }

    RecordingEventLog log;
    ScriptedConsole console("");
    restartAgent(console);
    EXPECT_EQ("", console.written);
    EXPECT_EQ(std::vector<LoggedEntry>{Message('I', "restartAgent", "Hardenor",
                                               "No VPN agent (zirodava.exe) was found in " +
                                                   ToUtf8(AgentDirectory()) + " or " + ToUtf8(nativeAgent) +
                                                   "; none is restarted")},
              LoggedEntries(log));
    CreateDirectories(nativeAgent);
    ASSERT_TRUE(WriteFileBytes(nativeAgent + L"zirodava.exe", "MZ"));
    EXPECT_TRUE(isAgentInstalled());
    RemovePath(nativeAgent + L"zirodava.exe");
}

// Regression: a run asked the shell for its folders five times, and held the shell library open to
// make that cheap.
TEST_F(HardenorPolicyFile, ARunAsksTheShellForTwoFoldersOnly)
{
    static int lookups = 0;
    static const auto real = reinterpret_cast<ShellFolderFunction>(
        reinterpret_cast<void*>(::GetProcAddress(::LoadLibraryW(L"shell32.dll"), "SHGetFolderPathW")));
    struct Counted
    {
        static HRESULT WINAPI Lookup(HWND owner, int csidl, HANDLE token, DWORD flags, LPWSTR path)
        {
            ++lookups;
            return real(owner, csidl, token, flags, path);
        }
    };
    const auto counted = OverrideShellFolderFunction(&Counted::Lookup);
    EXPECT_EQ(0, RunInProcess({}));
    EXPECT_EQ(2, lookups) << "the data folder and the program files folder";
}

// Deployment tools kill runs that take too long. Whenever a run is killed, the policy is the old one
// or the new one, whole: 20 runs are killed the moment their temporary file appears, 20 at random
// instants. The temporary file is marked for deletion one call after its creation; only a kill that
// lands between the two leaves it behind, and the next run removes it, so the folder never holds more
// than the policy for long.
TEST_F(HardenorConcurrency, KilledRunsLeaveTheOldOrTheNewPolicyAndNothingElse)
{
    const std::string previous = PolicyFile({"<FipsMode>false</FipsMode>"});
    const std::string next =
        PolicyFile({"<BypassDownloader>true</BypassDownloader>", "<FipsMode>true</FipsMode>"});
    const std::wregex temporary(L"PathweaveLocalPolicy\\.xml\\.[0-9a-f]{16}\\.tmp");
    std::srand(static_cast<unsigned>(::GetTickCount()));
    int replaced[2] = {0, 0};
    int leftBehind = 0;
    for (int round = 0; round < 40; ++round)
    {
        ASSERT_TRUE(WriteFileBytes(PolicyFilePath(), previous));
        const HANDLE created =
            ::FindFirstChangeNotificationW(PolicyDirectory().c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
        ASSERT_NE(INVALID_HANDLE_VALUE, created);
        HardenorProcess run({L"bd=true"}, "y\n");
        ASSERT_TRUE(run.started());
        if (round < 20)
        {
            // The first name to appear in the folder is the temporary file's.
            ::WaitForSingleObject(created, 10000);
        }
        else
        {
            ::Sleep(static_cast<DWORD>(std::rand() % 400));
        }
        run.kill();
        ::FindCloseChangeNotification(created);

        const std::string policy = CurrentPolicy();
        EXPECT_TRUE(policy == previous || policy == next) << "round " << round << ": " << policy;
        replaced[round / 20] += policy == next ? 1 : 0;
        std::vector<std::wstring> others = ListDirectory(PolicyDirectory());
        others.erase(std::remove(others.begin(), others.end(), L"PathweaveLocalPolicy.xml"), others.end());
        ASSERT_LE(others.size(), 1u) << "round " << round;
        if (!others.empty())
        {
            EXPECT_TRUE(std::regex_match(others[0], temporary)) << "round " << round;
            ++leftBehind;
            EXPECT_EQ(0u, RunHardenor({L"bd=true"}, "y\n").exitCode);
            EXPECT_EQ(std::vector<std::wstring>{L"PathweaveLocalPolicy.xml"},
                      ListDirectory(PolicyDirectory()))
                << "round " << round;
        }
    }
    std::printf(
        "runs that had replaced the policy when killed: %d of 20 at their temporary file, %d of 20 at "
        "random; killed before the mark, and removed by the next run: %d\n",
        replaced[0], replaced[1], leftBehind);
}
