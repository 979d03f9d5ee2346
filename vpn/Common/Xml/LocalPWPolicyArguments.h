#pragma once

// The argument rules: turns abbreviation=value arguments into the top-level and the update-group
// values of the policy file. The first value of a policy wins; an argument that cannot be used is
// logged as a warning and skipped.

#include <string>
#include <vector>

#include "vpn/Common/Xml/LocalPWPolicyFormat.h"

// An argument that the rules do not apply, and why: the text of its warning. An empty value draws
// no warning, and its reason is for the console alone (logged false).
struct SkippedArgument
{
    int index;
    std::string reason;
    bool logged;
};

class LocalPWPolicyArguments
{
public:
    // Adds the usable ones of count arguments (entries may be null) to top and update. False when
    // the array is unusable.
    static bool collect(const wchar_t* const* args, int count, PolicyValues& top, PolicyValues& update);
    // The rules without the log: adds the usable arguments to top and update and returns the others
    // in order. A null entry is neither; an unusable array gives nothing.
    static std::vector<SkippedArgument> sort(const wchar_t* const* args, int count, PolicyValues& top,
                                             PolicyValues& update);
};
