#include "vpn/tools/hardenor/Hardenor.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <exception>
#include <iterator>
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
constexpr wchar_t kFipsOnArgument[] = L"fm=true";

// The tool's switches: a name after "/" or "-", in any case, as Windows tools take theirs. No policy
// argument begins with either character, so any other argument that does is a mistyped switch. A
// switch's name alone is one whose "/" was forgotten: taken as a policy argument, it would turn a
// check into a write.
enum class Switch
{
    None, // a policy argument
    Help,
    Overwrite, // answers the overwrite prompt in advance, for runs with no one to answer it
    Status,
    Unknown,
    BareName,
};
struct SwitchName
{
    const wchar_t* name;
    Switch which;
};
constexpr SwitchName kSwitches[] = {
    {L"?", Switch::Help},      {L"h", Switch::Help},
    {L"help", Switch::Help},   {L"-help", Switch::Help}, // --help, for those used to it
    {L"y", Switch::Overwrite}, {L"status", Switch::Status},
};

void ReportDllSearch(DWORD dllSearchError);
CStoragePath* CreateStoragePath(IConsole& console);
std::string RefusalLine(const TargetRefusal& refusal);
int Run(int argc, wchar_t** argv, DWORD dllSearchError, IConsole& console);
int ReportStatus(DWORD dllSearchError, IConsole& console);
bool IsAgentIn(const std::wstring& folder);
bool IsSwitchCharacter(wchar_t character);
Switch SwitchOf(const wchar_t* argument);
void ReportSkippedArguments(const std::vector<const wchar_t*>& arguments, size_t given, IConsole& console);
bool HasSwitch(int argc, const wchar_t* const* argv, Switch which);
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
        // Asking for help changes nothing on the machine.
        if (isHelpRequested(argc, argv))
        {
            printUsage(console);
            return kExitSuccess;
        }

        ResultCode logResult = 0;
        DiagnosticLogScope log(logResult);
        // A mistyped switch must never turn a check into a write: nothing else happens.
        if (const wchar_t* unknown = unknownSwitch(argc, argv))
        {
            const CNarrowText name(unknown);
            const char* shown = name.c_str_or("?");
            const char* rule = IsSwitchCharacter(unknown[0]) ? "" : ": a switch begins with / or -";
            console.write(("Unknown switch " + std::string(shown) + rule + "\n\n").c_str());
            printUsage(console);
            PW_LOG_DEBUG(names::kWmain, 'E', "unknown switch %s: nothing was done", shown);
            return kExitFailure;
        }
        if (isStatusRequested(argc, argv))
        {
            return ReportStatus(dllSearchError, console);
        }
        return Run(argc, argv, dllSearchError, console);
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
int Run(int argc, wchar_t** argv, DWORD dllSearchError, IConsole& console)
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

    // The user's policy arguments as given, then FIPS mode on; the first value of a policy wins, so a
    // user's fm=false keeps FIPS mode off.
    std::vector<const wchar_t*> arguments;
    std::copy_if(argv + 1, argv + argc, std::back_inserter(arguments),
                 [](const wchar_t* argument) { return SwitchOf(argument) == Switch::None; });
    const size_t given = arguments.size();
    arguments.push_back(kFipsOnArgument);
    // Before the question, so that an administrator who sees a typo can answer N and mend it.
    ReportSkippedArguments(arguments, given, console);

    XmlLocalPWPolMgr policyManager;
    // Where the policy lives and who may own it, resolved once for the whole run.
    const LocalPolicyContext context = XmlLocalPWPolMgr::resolveContext();

    if (policyManager.localPolicyExists(context) && !isOverwriteConfirmed(argc, argv))
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
    if (!policyManager.GenerateLocalPolicy(context, arguments.data(), static_cast<int>(arguments.size()),
                                           &refusal))
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
    if (policyManager.getLocalPolicyInfo().getFipsMode())
    {
        console.write("FIPS mode is on\n");
        return kExitSuccess;
    }
    console.write("FIPS mode is off\n");
    return kExitFipsOff;
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

bool isStatusRequested(int argc, const wchar_t* const* argv)
{
    return HasSwitch(argc, argv, Switch::Status);
}

bool isOverwriteConfirmed(int argc, const wchar_t* const* argv)
{
    return HasSwitch(argc, argv, Switch::Overwrite);
}

bool isHelpRequested(int argc, const wchar_t* const* argv)
{
    return HasSwitch(argc, argv, Switch::Help);
}

const wchar_t* unknownSwitch(int argc, const wchar_t* const* argv)
{
    for (int i = 1; i < argc; ++i)
    {
        const Switch which = SwitchOf(argv[i]);
        if (which == Switch::Unknown || which == Switch::BareName)
        {
            return argv[i];
        }
    }
    return nullptr;
}

void printUsage(IConsole& console)
{
    console.write(
        "Usage: hardenor.exe [/y] [abbreviation=value ...]\n"
        "       hardenor.exe /status\n"
        "\n"
        "Writes the machine's local policy file with FIPS mode on, reads it back, reports the FIPS\n"
        "state and restarts the VPN agent service. Run it from an elevated command prompt.\n"
        "/y overwrites an existing policy file without asking.\n"
        "/status only reads the policy file and reports the FIPS state; it changes nothing.\n"
        "Switches may begin with / or - and are not case-sensitive (/Y, -status); a dash pasted from a\n"
        "document counts as -. Any other argument that begins with / or -, and a switch's name without\n"
        "its / (status, y), is refused, and nothing is done.\n"
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
    console.write(
        "\n"
        "Exit codes:\n"
        "  0   FIPS mode reported (on or off), or overwriting the existing policy file declined\n"
        "  -1  an unknown switch, not an administrator, the policy file could not be written or read\n"
        "      back, or no answer to the overwrite prompt (end of input)\n"
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

// "/" and "-", and what stands for them in a command line pasted from a document: the Unicode
// dashes (hyphen to horizontal bar), the minus sign, their small and full-width forms, and the
// full-width solidus.
bool IsSwitchCharacter(wchar_t character)
{
    switch (character)
    {
    case L'/':
    case L'-':
    case 0x2010:
    case 0x2011:
    case 0x2012:
    case 0x2013:
    case 0x2014:
    case 0x2015:
    case 0x2212:
    case 0xFE58:
    case 0xFE63:
    case 0xFF0D:
    case 0xFF0F:
        return true;
    default:
        return false;
    }
}

Switch SwitchOf(const wchar_t* argument)
{
    if (argument == nullptr)
    {
        return Switch::None;
    }
    const bool prefixed = IsSwitchCharacter(argument[0]);
    for (const SwitchName& known : kSwitches)
    {
        if (_wcsicmp(prefixed ? argument + 1 : argument, known.name) == 0)
        {
            return prefixed ? known.which : Switch::BareName;
        }
    }
    return prefixed ? Switch::Unknown : Switch::None;
}

// One console line for each of the first given arguments that the policy rules will not apply, with
// the text of its warning; the implied FIPS argument after them is the tool's own.
void ReportSkippedArguments(const std::vector<const wchar_t*>& arguments, size_t given, IConsole& console)
{
    PolicyValues top;
    PolicyValues update;
    for (const SkippedArgument& skipped :
         LocalPWPolicyArguments::sort(arguments.data(), static_cast<int>(arguments.size()), top, update))
    {
        if (static_cast<size_t>(skipped.index) < given)
        {
            const CNarrowText argument(arguments[static_cast<size_t>(skipped.index)]);
            console.write(
                ("Skipped " + std::string(argument.c_str_or("?")) + ": " + skipped.reason + "\n").c_str());
        }
    }
}

bool HasSwitch(int argc, const wchar_t* const* argv, Switch which)
{
    return argc > 1 && std::any_of(argv + 1, argv + argc,
                                   [which](const wchar_t* argument) { return SwitchOf(argument) == which; });
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
