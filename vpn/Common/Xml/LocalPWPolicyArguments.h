#pragma once

// The argument rules: turns abbreviation=value arguments into the top-level and the update-group
// values of the policy file. The first value of a policy wins; an argument that cannot be used is
// skipped, with the text of the warning that the policy manager logs for it.

#include <string>
#include <vector>

#include "vpn/Common/Xml/LocalPWPolicyFormat.h"

// An argument that the rules do not apply, as it was given, and why: the text of its warning.
struct SkippedArgument
{
    std::wstring argument;
    std::wstring reason;
    // False for an empty value, which draws no warning: its reason is for the console alone.
    bool logged = true;
    // False for the tool's own implied value, which the console does not name.
    bool shown = true;
};

// What a list of arguments gives: the values of both groups, and the arguments that give none, in
// the order given.
struct ParsedPolicyArguments
{
    PolicyValues top;
    PolicyValues update;
    std::vector<SkippedArgument> skipped;
    // The policies kept from an existing file, as abbreviation=value with the value as the file
    // holds it, in the file's order.
    std::vector<std::wstring> kept;
};

class LocalPWPolicyArguments
{
public:
    // The rules over count arguments; null entries are passed over. Logs nothing.
    static ParsedPolicyArguments read(const wchar_t* const* args, int count);
    // Applies one more argument to arguments, as read does; shown says whether a skip of it is named
    // on the console.
    static void apply(const wchar_t* argument, ParsedPolicyArguments& arguments, bool shown = true);
    // FIPS mode on unless the arguments gave FipsMode a value: the implied fm=true is applied after
    // them, so that a value they gave wins and the implied one draws the duplicate warning.
    static void implyFipsMode(ParsedPolicyArguments& arguments);
    // Adds the filed policies that arguments do not give, with their values in their own form, and
    // lists them in kept. False, with cause naming what the file holds that cannot be written back or
    // the first policy whose value the command line would not take; arguments may then hold some of
    // them.
    static bool keep(const FiledPolicies& filed, ParsedPolicyArguments& arguments, std::wstring& cause);
    // Logs the warning of each skipped argument that draws one, in order, for the policy manager.
    static void logWarnings(const ParsedPolicyArguments& arguments);
};
