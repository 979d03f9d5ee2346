#include "vpn/tools/hardenor/CommandLine.h"

#include <cwchar>

namespace
{
enum class Switch
{
    None, // not a switch
    Help,
    Overwrite, // answers the overwrite prompt in advance, for runs with no one to answer it
    Status,
    Keep, // keeps the existing file's policies that the command line does not give
};
struct SwitchName
{
    const wchar_t* name;
    Switch which;
};
constexpr SwitchName kSwitches[] = {
    {L"?", Switch::Help},      {L"h", Switch::Help},        {L"help", Switch::Help},
    {L"-help", Switch::Help}, // --help, for those used to it
    {L"y", Switch::Overwrite}, {L"status", Switch::Status}, {L"keep", Switch::Keep},
};

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

Switch SwitchNamed(const wchar_t* name)
{
    for (const SwitchName& known : kSwitches)
    {
        if (_wcsicmp(name, known.name) == 0)
        {
            return known.which;
        }
    }
    return Switch::None;
}
} // namespace

CommandLine CommandLine::read(int argc, const wchar_t* const* argv)
{
    CommandLine line;
    for (int i = 1; argv != nullptr && i < argc; ++i)
    {
        const wchar_t* argument = argv[i];
        if (argument == nullptr)
        {
            continue;
        }
        const bool prefixed = IsSwitchCharacter(argument[0]);
        const Switch which = SwitchNamed(prefixed ? argument + 1 : argument);
        Refusal refusal = Refusal::None;
        if (prefixed)
        {
            refusal = which == Switch::None ? Refusal::UnknownSwitch : Refusal::None;
        }
        else if (which != Switch::None)
        {
            // Taken as a policy argument, a switch whose "/" was forgotten would turn a check into
            // a write.
            refusal = Refusal::BareSwitch;
        }
        else if (argument[0] != L'\0' && std::wcschr(argument, L'=') == nullptr)
        {
            // A detection rule's switch mangled on its way (a dash in the wrong code page, an
            // invisible character before the "/", a misspelling) must not turn into a write either.
            // An empty argument, an empty variable of a script, is skipped as a policy argument.
            refusal = Refusal::NotAnArgument;
        }

        if (refusal != Refusal::None)
        {
            if (line.refused == nullptr)
            {
                line.refused = argument;
                line.refusal = refusal;
            }
        }
        else if (prefixed)
        {
            line.help |= which == Switch::Help;
            line.overwrite |= which == Switch::Overwrite;
            line.status |= which == Switch::Status;
            line.keep |= which == Switch::Keep;
        }
        else
        {
            LocalPWPolicyArguments::apply(argument, line.policy);
        }
    }
    LocalPWPolicyArguments::implyFipsMode(line.policy);
    return line;
}
