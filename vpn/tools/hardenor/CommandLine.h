#pragma once

#include "vpn/Common/Xml/LocalPWPolicyArguments.h"

// What a command line asks of a run, read once: its switches, the policy values that it gives (FIPS
// mode on unless it gives fm) and the arguments that it gives in vain, each with its reason.
//
// Switches are names after "/" or "-", matched ignoring case ("/Y", "-status"). A dash that a
// document puts in the place of "-" (en dash, em dash, minus sign, ...) and the full-width solidus
// count as "-" and "/". Every policy argument holds "=": any other argument that is not empty cannot
// be what the tool takes, and is refused.
struct CommandLine
{
    // Why an argument is refused.
    enum class Refusal
    {
        None,
        UnknownSwitch, // begins with "/" or "-" and names no switch
        BareSwitch,    // a switch's name without its "/"
        NotAnArgument, // neither a switch nor abbreviation=value: a mangled or misspelt switch
    };

    // Asks for the usage text ("/?", "/h", "/help", and "--help").
    bool help = false;
    // Answers the overwrite prompt in advance ("/y").
    bool overwrite = false;
    // Asks for the FIPS state that the policy file holds ("/status").
    bool status = false;
    // Keeps the existing file's policies that the command line does not give ("/keep"); asks nothing.
    bool keep = false;
    // The first argument that is refused, as typed, and why; null when there is none.
    const wchar_t* refused = nullptr;
    Refusal refusal = Refusal::None;
    // The policy arguments with the implied FIPS value.
    ParsedPolicyArguments policy;

    // Reads the arguments after the program's name.
    static CommandLine read(int argc, const wchar_t* const* argv);
};
