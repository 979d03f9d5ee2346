#pragma once

// What one run of the tool, or one /status, resolves once and hands down to the policy manager, the
// writer and the reader: where the policy file lives, and which accounts may own what lies there.
// XmlLocalPWPolMgr::resolveContext asks the shell for the data folder once and reads the caller's
// token once.

#include <string>

#include "vpn/Common/Logging/ResultCodes.h"
#include "vpn/Common/Utility/Win/TrustedIdentities.h"

struct LocalPolicyContext
{
    // The policy file's directory, ending in a backslash; empty when it is unknown.
    std::wstring policyDirectory;
    // The common application data folder that the directory lies in; empty when it is unknown.
    std::wstring dataFolder;
    // The trusted identities, when trustedLoaded is 0; otherwise the code of their failed load, which
    // the manager reports before it writes or reads anything.
    CTrustedIdentities trusted;
    ResultCode trustedLoaded = GLOBAL_ERROR_NOT_INITIALIZED;
};
