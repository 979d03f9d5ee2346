#include "vpn/tools/hardenor/Hardenor.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <exception>
#include <string>
#include <vector>

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Platform/PlatformApi.h"
#include "vpn/Common/Platform/StringConvert.h"
#include "vpn/Common/Privilege.h"
#include "vpn/Common/Utility/InstanceSmartPtr.h"
#include "vpn/Common/Utility/Services.h"
#include "vpn/Common/Utility/StoragePath.h"
#include "vpn/Common/Utility/Win/Various.h"
#include "vpn/Common/Xml/LocalPWPolicyArguments.h"
#include "vpn/Common/Xml/LocalPWPolicyInfo.h"
#include "vpn/Common/Xml/LocalPWPolicyTable.h"
#include "vpn/Common/Xml/XmlLocalPWPolMgr.h"
#include "vpn/tools/hardenor/CommandLine.h"

namespace
{
using LogNames::Hardenor::kFile;
namespace names = LogNames::Hardenor;
// The run and /status log under the entry point they run for.
constexpr const char* kFunction = names::kWmain;
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = -1;
constexpr int kExitFipsOff = 1;
constexpr int kAdministratorLevel = 3;
constexpr int kCsidlProgramFiles = 0x26;

constexpr wchar_t kAgentServiceName[] = L"zirodava";
constexpr wchar_t kAgentFolder[] = L"\\Veskar\\Veskar Pathweave Roamguard Client\\";
constexpr wchar_t kAgentExecutable[] = L"zirodava.exe";
void ReportDllSearch(DWORD dllSearchError);
CStoragePath* CreateStoragePath(IConsole& console);
std::string RefusalLine(const TargetRefusal& refusal);
void ReportRefusal(const CommandLine& line, IConsole& console);
int Run(const CommandLine& line, DWORD dllSearchError, IConsole& console);
int ReportStatus(DWORD dllSearchError, IConsole& console);
bool IsAgentIn(const std::wstring& folder);
void ReportSkippedArguments(const ParsedPolicyArguments& arguments, IConsole& console);
bool KeepFiledPolicies(XmlLocalPWPolMgr& manager, const LocalPolicyContext& context,
                       ParsedPolicyArguments& policy, IConsole& console);
void ListFiledPolicies(const XmlLocalPWPolMgr& manager, IConsole& console);
void LogEscapedException() noexcept;
} // namespace

int HardenorMain(int argc, wchar_t** argv, IConsole& console)
{
    // Before anything can load a library: a DLL planted beside the program or in the current
    // directory must never be loaded in its place.
    const DWORD dllSearchError = pw::Api().SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)
                                     ? ERROR_SUCCESS
                                     : LastErrorOfFailure();
    try
    {
        const CommandLine line = CommandLine::read(argc, argv);
        // Asking for help changes nothing on the machine.
        if (line.help)
        {
            printUsage(console);
            return kExitSuccess;
        }

        ResultCode logResult = 0;
        DiagnosticLogScope log(logResult);
        // A mistyped switch must never turn a check into a write: nothing else happens.
        if (line.refused != nullptr)
        {
            ReportRefusal(line, console);
            return kExitFailure;
        }
        if (line.status)
        {
            return ReportStatus(dllSearchError, console);
        }
        return Run(line, dllSearchError, console);
    }
    catch (...)
    {
        // The run's own log scope has closed while the exception left it; the entry opens another.
        LogEscapedException();
        return kExitFailure;
    }
}

namespace
{
// The run after the log is open; every object it creates is released on return, in reverse order
// of creation.
int Run(const CommandLine& line, DWORD dllSearchError, IConsole& console)
{
    ReportDllSearch(dllSearchError);

    if (GetPrivilegeLevel() < kAdministratorLevel)
    {
        console.write("Sorry, you do not have the necessary privileges to run this tool\n");
        PW_LOG_DEBUG(names::kWmain, 'I', "user does not have necessary privileges");
        return kExitFailure;
    }

    CInstanceSmartPtr<CStoragePath> storagePath(CreateStoragePath(console));
    if (storagePath.get() == nullptr)
    {
        return kExitFailure;
    }

    // Before the question, so that an administrator who sees a typo can answer N and mend it.
    ReportSkippedArguments(line.policy, console);

    XmlLocalPWPolMgr policyManager;
    // Where the policy lives and who may own it, resolved once for the whole run.
    const LocalPolicyContext context = XmlLocalPWPolMgr::resolveContext();

    ParsedPolicyArguments policy = line.policy;
    if (line.keep)
    {
        // Nothing is replaced that the command line does not name: there is nothing to ask.
        if (!KeepFiledPolicies(policyManager, context, policy, console))
        {
            return kExitFailure;
        }
    }
    else if (policyManager.localPolicyExists(context) && !line.overwrite)
    {
        console.write(
            "Local policies have already been configured on this computer. Do you wish to continue and "
            "overwrite them?[y/N] ");
        const int answer = console.readChar();
        if (answer == EOF)
        {
            PW_LOG_DEBUG(names::kWmain, 'E', "EOF received");
            return kExitFailure;
        }
        if (answer != 'y' && answer != 'Y')
        {
            return kExitSuccess;
        }
    }

    TargetRefusal refusal;
    if (!policyManager.GenerateLocalPolicy(context, policy, &refusal))
    {
        // Tell the administrator what to mend, when the old policy file could not be replaced.
        const std::string cause = RefusalLine(refusal);
        if (!cause.empty())
        {
            console.write(cause.c_str());
        }
        console.write("An Error Occurred While Generating the Local Policy File\n");
        PW_LOG_DEBUG(names::kWmain, 'E', "failed to generate local policy file");
        return kExitFailure;
    }

    if (policyManager.loadLocalPolicy(context) != 0)
    {
        console.write("An Error Occurred While Loading the Policy File\n");
        PW_LOG_DEBUG(names::kWmain, 'E', "could not load local policy file");
        return kExitFailure;
    }

    if (policyManager.getLocalPolicyInfo().getFipsMode())
    {
        console.write("FIPS Mode has Successfully been Enabled\n");
        PW_LOG_DEBUG(names::kWmain, 'I', "user has enabled FIPS mode");
    }
    else
    {
        console.write(
            "FIPS Mode has now been disabled. Please rerun the tool without a fm=false argument if you "
            "wish to "
            "enable FIPS.\n");
        PW_LOG_DEBUG(names::kWmain, 'I', "user has disabled FIPS mode");
    }

    restartAgent(console);
    return kExitSuccess;
}

// Reads the policy file back as a run does and reports the FIPS state it holds. Nothing is asked,
// written or restarted, and any user may ask: users may read the policy.
int ReportStatus(DWORD dllSearchError, IConsole& console)
{
    ReportDllSearch(dllSearchError);
    CInstanceSmartPtr<CStoragePath> storagePath(CreateStoragePath(console));
    if (storagePath.get() == nullptr)
    {
        return kExitFailure;
    }

    XmlLocalPWPolMgr policyManager;
    const LocalPolicyContext context = XmlLocalPWPolMgr::resolveContext();
    // A file that an administrator did not write says nothing about the machine; the run that the
    // detection rule then starts replaces it. "Cannot tell" is never "off": a detection rule would
    // take the machine for one to remediate.
    bool exists = false;
    const ResultCode loaded = policyManager.loadLocalPolicy(context, 'W', &exists);
    if (loaded == XmlLocalPWPolMgr::kUntrustedPolicyFile)
    {
        console.write("The local policy file was not written by an administrator\n");
        return kExitFipsOff;
    }
    if (loaded != GLOBAL_SUCCESS)
    {
        console.write("The local policy file could not be read\n");
        if (exists)
        {
            PW_LOG_DEBUG(names::kWmain, 'E', "could not load local policy file");
        }
        else
        {
            (void)PW_LOG_IF_FAILED(LogNames::Invoked::kXmlLocalPWPolMgrLoadLocalPolicy, loaded,
                                   "cannot tell whether there is a local policy file");
        }
        return kExitFailure;
    }
    if (!exists)
    {
        console.write("No local policy file: FIPS mode is off\n");
        return kExitFipsOff;
    }
    const bool on = policyManager.getLocalPolicyInfo().getFipsMode();
    console.write(on ? "FIPS mode is on\n" : "FIPS mode is off\n");
    ListFiledPolicies(policyManager, console);
    return on ? kExitSuccess : kExitFipsOff;
}
} // namespace

void restartAgent(IConsole& console)
{
    const std::vector<std::wstring> folders = agentFolders();
    if (!std::any_of(folders.begin(), folders.end(), IsAgentIn))
    {
        std::string where;
        for (const std::wstring& folder : folders)
        {
            const CNarrowText name(folder);
            where += std::string(where.empty() ? "" : " or ") + name.c_str_or("?");
        }
        if (where.empty())
        {
            where = "no folder: the program files folder is unknown";
        }
        PW_LOG_DEBUG(names::kRestartAgent, 'I', "No VPN agent (%ls) was found in %s; none is restarted",
                     kAgentExecutable, where.c_str());
        return;
    }
    console.write("Restarting the VPN Agent process...\n");

    if (PW_LOG_IF_FAILED_FOR(names::kRestartAgent, 'E', LogNames::Invoked::kCServicesServiceStop,
                             CServices::ServiceStop(kAgentServiceName), nullptr) != 0)
    {
        console.write("Could not stop the VPN agent service.\n");
        return;
    }

    if (PW_LOG_IF_FAILED_FOR(names::kRestartAgent, 'E', LogNames::Invoked::kCServicesServiceStart,
                             CServices::ServiceStart(kAgentServiceName), nullptr) != 0)
    {
        console.write("Could not start the VPN agent service.\n");
        return;
    }
    console.write("The VPN agent has been successfully restarted.\n");
}

std::vector<std::wstring> agentFolders()
{
    std::vector<std::wstring> folders;
    // Without the program files folder the path would start at the root of the current drive, a
    // place where any user may create the product's folders.
    const std::wstring programFiles = GetCSIDLPath(kCsidlProgramFiles);
    if (programFiles.empty())
    {
        return folders;
    }
    folders.push_back(programFiles + kAgentFolder);
    // A 32-bit tool on 64-bit Windows is given the 32-bit program files folder; a 64-bit agent lies
    // under the native one.
    const std::wstring native = NativeProgramFilesFolder();
    if (!native.empty() && _wcsicmp(native.c_str(), programFiles.c_str()) != 0)
    {
        folders.push_back(native + kAgentFolder);
    }
    return folders;
}

bool isAgentInstalled()
{
    const std::vector<std::wstring> folders = agentFolders();
    return std::any_of(folders.begin(), folders.end(), IsAgentIn);
}

void printUsage(IConsole& console)
{
    console.write(
        "Usage: hardenor.exe [/y | /keep] [abbreviation=value ...]\n"
        "       hardenor.exe /status\n"
        "\n"
        "Writes the machine's local policy file with FIPS mode on, reads it back, reports the FIPS\n"
        "state and restarts the VPN agent service. Run it from an elevated command prompt.\n"
        "/y replaces an existing policy file without asking: its other policies are gone.\n"
        "/keep keeps the policies of an existing policy file that the command line does not give, and\n"
        "names each on a line that begins with Kept; it asks nothing. A file that cannot be kept as it\n"
        "is (unreadable, or with an element or a value that the tool does not write) stops the run.\n"
        "  For a fleet: hardenor.exe /keep turns FIPS mode on and keeps each machine's policies.\n"
        "/status only reads the policy file, reports the FIPS state and lists the file's policies as\n"
        "abbreviation=value; it changes nothing.\n"
        "Switches may begin with / or - and are not case-sensitive (/Y, -status); a dash pasted from a\n"
        "document counts as -. Any other argument that begins with / or -, a switch's name without its /\n"
        "(status, y), and any other argument without = (statsu), is refused, and nothing is done.\n"
        "Each argument that is not applied is named on a line that begins with Skipped.\n"
        "fm=true is always implied; give fm=false to keep FIPS mode off.\n"
        "Abbreviations are case-sensitive; values are not. The first value given for a policy wins.\n"
        "\n"
        "Policies:\n");
    std::string policies;
    for (const auto& entry : LocalPWPolicyTable::byAbbreviation())
    {
        const PolicyDefinition& definition = entry.second;
        std::wstring values;
        for (const std::wstring& value : definition.allowedValues)
        {
            values += (values.empty() ? L"" : L" | ") + value;
        }
        if (values.empty())
        {
            values = L"server names separated by , or ;";
        }
        char line[256] = {};
        (void)std::snprintf(line, sizeof(line), "  %-5ls %-42ls %ls\n", entry.first.c_str(),
                            definition.policyName.c_str(), values.c_str());
        policies += line;
    }
    console.write(policies.c_str());
    console.write("\n"
                  "Exit codes:\n"
                  "  0   FIPS mode reported (on or off), or overwriting the existing policy file declined\n"
                  "  -1  an unknown switch or argument, not an administrator, the policy file could not be\n"
                  "      kept, written or read back, or no answer to the overwrite prompt (end of input)\n"
                  "Exit codes with /status:\n"
                  "  0   FIPS mode is on\n"
                  "  1   FIPS mode is off, there is no policy file, or an administrator did not write it\n"
                  "  -1  the policy file cannot be read\n");
}

namespace
{
void ReportDllSearch(DWORD dllSearchError)
{
    (void)PW_LOG_IF_FAILED_AT('W', LogNames::Invoked::kSetDefaultDllDirectories, dllSearchError,
                              "libraries may still be searched for beside the program");
}

// The storage path singleton for the run, or null after telling the console and the log.
CStoragePath* CreateStoragePath(IConsole& console)
{
    CStoragePath* instance = nullptr;
    if (PW_LOG_IF_FAILED(LogNames::Invoked::kCStoragePathCreateSingletonInstance,
                         CStoragePath::CreateSingletonInstance(instance), nullptr) != 0)
    {
        console.write("Failed to create storage path manager\n");
        return nullptr;
    }
    return instance;
}

// The console line that says why the policy file could not be replaced, or "" for another failure.
std::string RefusalLine(const TargetRefusal& refusal)
{
    switch (refusal.cause)
    {
    case TargetRefusal::Cause::InUse:
        return refusal.holders.empty() ? "The local policy file is in use by another program.\n"
                                       : "The local policy file is in use by " + refusal.holders + ".\n";
    case TargetRefusal::Cause::FolderInPlace:
        return "A folder or a link stands where the local policy file belongs.\n";
    case TargetRefusal::Cause::ReadOnly:
        return "The local policy file is read-only.\n";
    case TargetRefusal::Cause::AccessDenied:
        return "Access to the local policy file was denied.\n";
    case TargetRefusal::Cause::None:
        break;
    }
    return std::string();
}

// True when the agent executable is a regular file in folder; asked of the C runtime, and not logged.
bool IsAgentIn(const std::wstring& folder)
{
    const std::wstring path = folder + kAgentExecutable;
    struct _stat status = {};
    return pw::Api().wstat(path.c_str(), &status) == 0 && (status.st_mode & _S_IFREG) != 0;
}

// One console line for each argument that the run does not apply, with the text of its warning; the
// implied FIPS value is the tool's own and is not named.
void ReportSkippedArguments(const ParsedPolicyArguments& arguments, IConsole& console)
{
    for (const SkippedArgument& skipped : arguments.skipped)
    {
        if (skipped.shown)
        {
            console.write(
                ("Skipped " + ToUtf8(skipped.argument) + ": " + ToUtf8(skipped.reason) + "\n").c_str());
        }
    }
}

// Reads the existing policy file as /status does and adds its policies that the command line does not
// give to policy, naming each on the console. False, after saying why on the console and in the log,
// when the file cannot be read or holds what the tool cannot write back as it is: nothing is changed.
bool KeepFiledPolicies(XmlLocalPWPolMgr& manager, const LocalPolicyContext& context,
                       ParsedPolicyArguments& policy, IConsole& console)
{
    bool exists = false;
    const ResultCode loaded = manager.loadLocalPolicy(context, 'E', &exists);
    std::wstring cause;
    if (loaded == XmlLocalPWPolMgr::kUntrustedPolicyFile)
    {
        cause = L"it was not written by an administrator";
    }
    else if (loaded != GLOBAL_SUCCESS)
    {
        cause = L"it could not be read";
    }
    else if (exists && !LocalPWPolicyArguments::keep(manager.getFiledPolicies(), policy, cause))
    {
        cause = L"it holds " + cause;
    }
    if (cause.empty())
    {
        for (const std::wstring& kept : policy.kept)
        {
            console.write(("Kept " + ToUtf8(kept) + "\n").c_str());
        }
        return true;
    }
    console.write(("The local policy file cannot be kept: " + ToUtf8(cause) +
                   ". Nothing was changed; a run without /keep replaces the file.\n")
                      .c_str());
    PW_LOG_DEBUG(names::kWmain, 'E', "the local policy file cannot be kept: %s; nothing was changed",
                 CNarrowText(cause).c_str_or("?"));
    return false;
}

// One line for each policy of the file that was read, in the file's order, as a command line gives it.
void ListFiledPolicies(const XmlLocalPWPolMgr& manager, IConsole& console)
{
    for (const FiledPolicy& filed : manager.getFiledPolicies().policies)
    {
        const std::string argument =
            ToUtf8(LocalPWPolicyTable::abbreviationOf(filed.name) + L"=" + filed.value);
        // Quoted where cmd would otherwise split the line or read a character as its own.
        const bool quoted = argument.find_first_of(" \t&|<>^") != std::string::npos;
        console.write(((quoted ? "\"" + argument + "\"" : argument) + "\n").c_str());
    }
}

// The refused argument as typed, why, and the usage; one error entry.
void ReportRefusal(const CommandLine& line, IConsole& console)
{
    const std::string typed = ToUtf8(line.refused);
    const CNarrowText logged(line.refused);
    if (line.refusal == CommandLine::Refusal::NotAnArgument)
    {
        console.write(
            ("Unknown argument " + typed + ": it is neither a switch nor abbreviation=value\n\n").c_str());
        PW_LOG_DEBUG(names::kWmain, 'E', "unknown argument %s: nothing was done", logged.c_str_or("?"));
    }
    else
    {
        const char* rule =
            line.refusal == CommandLine::Refusal::BareSwitch ? ": a switch begins with / or -" : "";
        console.write(("Unknown switch " + typed + rule + "\n\n").c_str());
        PW_LOG_DEBUG(names::kWmain, 'E', "unknown switch %s: nothing was done", logged.c_str_or("?"));
    }
    printUsage(console);
}

// Logs the exception that is being handled; called from a catch clause.
void LogEscapedException() noexcept
{
    try
    {
        ResultCode logResult = 0;
        DiagnosticLogScope log(logResult);
        try
        {
            throw;
        }
        catch (const std::exception& e)
        {
            PW_LOG_DEBUG(names::kWmain, 'E', "unexpected exception: %s", e.what());
        }
        catch (...)
        {
            PW_LOG_DEBUG(names::kWmain, 'E', "unexpected exception of an unknown type");
        }
    }
    catch (...)
    {
        // Nothing is left to report it with.
    }
}
} // namespace
