#pragma once

// The argument rules: turns abbreviation=value arguments into the top-level and the update-group
// values of the policy file. The first value of a policy wins; an argument that cannot be used is
// logged as a warning and skipped.

#include "vpn/Common/Xml/LocalPWPolicyFormat.h"

class LocalPWPolicyArguments
{
public:
    // Adds the usable ones of count arguments (entries may be null) to top and update. False when
    // the array is unusable.
    static bool collect(const wchar_t* const* args, int count, PolicyValues& top, PolicyValues& update);
};
