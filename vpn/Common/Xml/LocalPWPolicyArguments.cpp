#include "vpn/Common/Xml/LocalPWPolicyArguments.h"

#include <cwctype>
#include <utility>

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
// Every run turns FIPS mode on unless its arguments say otherwise.
constexpr wchar_t kImpliedFipsMode[] = L"fm=true";

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

// The value that policy stores for given, in its own form; false when the policy does not take it.
bool AcceptedValue(const PolicyDefinition& policy, const std::wstring& given, std::wstring& value)
{
    // Free text must make a file that reads back to the same text; enumerated values do by
    // construction.
    value = given;
    if (policy.allowedValues.empty())
    {
        return IsServerListText(given);
    }
    for (const std::wstring& candidate : policy.allowedValues)
    {
        if (EqualIgnoringCase(given, candidate))
        {
            value = candidate;
            return true;
        }
    }
    return false;
}
} // namespace

ParsedPolicyArguments LocalPWPolicyArguments::read(const wchar_t* const* args, int count)
{
    ParsedPolicyArguments arguments;
    for (int i = 0; args != nullptr && i < count; ++i)
    {
        if (args[i] != nullptr)
        {
            apply(args[i], arguments);
        }
    }
    return arguments;
}

void LocalPWPolicyArguments::implyFipsMode(ParsedPolicyArguments& arguments)
{
    apply(kImpliedFipsMode, arguments, false);
}

bool LocalPWPolicyArguments::keep(const FiledPolicies& filed, ParsedPolicyArguments& arguments,
                                  std::wstring& cause)
{
    if (!filed.foreign.empty())
    {
        cause = filed.foreign;
        return false;
    }
    for (const FiledPolicy& policy : filed.policies)
    {
        const PolicyDefinition* definition = LocalPWPolicyTable::findByName(policy.name);
        if (definition == nullptr)
        {
            cause = L"the element " + policy.name + L", which is not a policy";
            return false;
        }
        PolicyValues& values = definition->updateGroup ? arguments.update : arguments.top;
        if (values.count(policy.name) != 0)
        {
            continue; // the command line gives it
        }
        std::wstring value;
        // A server list without names is what a list of separators alone writes.
        const bool emptyList = policy.value.empty() && definition->allowedValues.empty();
        if (!emptyList && !AcceptedValue(*definition, policy.value, value))
        {
            cause = policy.name + L" \"" + policy.value + L"\", a value that the command line does not take";
            return false;
        }
        values[policy.name] = value;
        arguments.kept.push_back(LocalPWPolicyTable::abbreviationOf(policy.name) + L"=" + policy.value);
    }
    return true;
}

void LocalPWPolicyArguments::logWarnings(const ParsedPolicyArguments& arguments)
{
    for (const SkippedArgument& skipped : arguments.skipped)
    {
        if (skipped.logged)
        {
            PW_LOG_DEBUG(kGenerate, 'W', "%s", CNarrowText(skipped.reason).c_str_or("?"));
        }
    }
}

void LocalPWPolicyArguments::apply(const wchar_t* text, ParsedPolicyArguments& arguments, bool shown)
{
    const std::wstring argument = text;
    const auto skip = [&](std::wstring reason, bool logged = true) {
        arguments.skipped.push_back({argument, std::move(reason), logged, shown});
    };
    const size_t equals = argument.find(L'=');
    if (equals == std::wstring::npos)
    {
        skip(L"ignoring invalid argument " + argument +
             L". Arguments in the form policy_abbreviation=value expected");
        return;
    }
    const std::wstring abbreviation = argument.substr(0, equals);
    const std::wstring given = argument.substr(equals + 1);
    if (given.empty())
    {
        skip(L"no value is given", false);
        return;
    }
    const auto& table = LocalPWPolicyTable::byAbbreviation();
    const auto definition = table.find(abbreviation);
    if (definition == table.end())
    {
        skip(L"ignoring undefined abbreviation " + abbreviation);
        return;
    }
    const PolicyDefinition& policy = definition->second;
    std::wstring value;
    if (!AcceptedValue(policy, given, value))
    {
        skip(given + L" is not an allowed value for policy " + policy.policyName);
        return;
    }

    PolicyValues& values = policy.updateGroup ? arguments.update : arguments.top;
    const auto stored = values.find(policy.policyName);
    if (stored != values.end() && !stored->second.empty())
    {
        skip(L"ignoring duplicate policy arg " + policy.policyName + L". The first value will be used");
        return;
    }
    values[policy.policyName] = value;
}
