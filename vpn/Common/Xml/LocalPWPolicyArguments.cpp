#include "vpn/Common/Xml/LocalPWPolicyArguments.h"

#include <cwctype>

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Platform/StringConvert.h"
#include "vpn/Common/Xml/LocalPWPolicyTable.h"
#include "vpn/Common/Xml/PWCSaxWriter.h"

namespace
{
// The entries of this room are the policy manager's: they carry its function and source names, the
// names that the event log has always shown for them.
using LogNames::XmlLocalPWPolMgr::kFile;
namespace names = LogNames::XmlLocalPWPolMgr;
constexpr const char* kGenerate = names::kGenerateLocalPolicy;

bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size())
    {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i)
    {
        if (std::towlower(a[i]) != std::towlower(b[i]))
        {
            return false;
        }
    }
    return true;
}

// True when a server list can be written so that it reads back unchanged: XML 1.0 text without
// carriage returns, which a reader turns into line feeds.
bool IsServerListText(const std::wstring& text)
{
    return PWCSaxWriter::isXmlText(text) && text.find(L'\r') == std::wstring::npos;
}

// The narrow form of a text for a warning, as the log would show it.
std::string Narrow(const std::wstring& text)
{
    return CNarrowText(text).c_str_or("?");
}
} // namespace

bool LocalPWPolicyArguments::collect(const wchar_t* const* args, int count, PolicyValues& top,
                                     PolicyValues& update)
{
    if (args == nullptr || count < 0)
    {
        PW_LOG_DEBUG(kGenerate, 'E', "Invalid Arguments");
        return false;
    }
    for (const SkippedArgument& skipped : sort(args, count, top, update))
    {
        if (skipped.logged)
        {
            PW_LOG_DEBUG(kGenerate, 'W', "%s", skipped.reason.c_str());
        }
    }
    return true;
}

std::vector<SkippedArgument> LocalPWPolicyArguments::sort(const wchar_t* const* args, int count,
                                                          PolicyValues& top, PolicyValues& update)
{
    std::vector<SkippedArgument> skipped;
    for (int i = 0; args != nullptr && i < count; ++i)
    {
        if (args[i] == nullptr)
        {
            continue;
        }
        const std::wstring argument = args[i];
        const size_t equals = argument.find(L'=');
        if (equals == std::wstring::npos)
        {
            skipped.push_back({i,
                               "ignoring invalid argument " + Narrow(argument) +
                                   ". Arguments in the form policy_abbreviation=value expected",
                               true});
            continue;
        }
        const std::wstring abbreviation = argument.substr(0, equals);
        const std::wstring given = argument.substr(equals + 1);
        if (given.empty())
        {
            skipped.push_back({i, "no value is given", false});
            continue;
        }
        const auto& table = LocalPWPolicyTable::byAbbreviation();
        const auto definition = table.find(abbreviation);
        if (definition == table.end())
        {
            skipped.push_back({i, "ignoring undefined abbreviation " + Narrow(abbreviation), true});
            continue;
        }
        const PolicyDefinition& policy = definition->second;

        // Free text must make a file that reads back to the same text; enumerated values do by
        // construction.
        bool allowed = policy.allowedValues.empty() && IsServerListText(given);
        std::wstring value = given;
        for (const std::wstring& candidate : policy.allowedValues)
        {
            if (EqualIgnoringCase(given, candidate))
            {
                value = candidate;
                allowed = true;
                break;
            }
        }
        if (!allowed)
        {
            skipped.push_back(
                {i, Narrow(given) + " is not an allowed value for policy " + Narrow(policy.policyName),
                 true});
            continue;
        }

        PolicyValues& values = policy.updateGroup ? update : top;
        const auto stored = values.find(policy.policyName);
        if (stored != values.end() && !stored->second.empty())
        {
            skipped.push_back({i,
                               "ignoring duplicate policy arg " + Narrow(policy.policyName) +
                                   ". The first value will be used",
                               true});
            continue;
        }
        values[policy.policyName] = value;
    }
    return skipped;
}
