#pragma once

// The accounts that may own or change what the agent trusts: SYSTEM, Administrators,
// TrustedInstaller, and the user whose token the calling thread runs with. The last one stays on
// purpose: on Windows an elevated administrator and the same account unelevated are not separated
// by a security boundary, and a folder or file that the administrator running the tool made is
// owned by that user.

#include <windows.h>

#include <string>
#include <vector>

#include "vpn/Common/Logging/ResultCodes.h"

class CTrustedIdentities
{
public:
    // Reads the well-known accounts and the caller's user from its token. 0, or the Windows error
    // (not logged: the caller names what it was checking).
    [[nodiscard]] ResultCode load();
    // True when sid is one of the loaded accounts.
    bool contains(PSID sid) const;

    // The text of a SID ("S-1-5-32-545"), or "(unknown)".
    static std::string SidText(PSID sid);
    // The account's name with its SID, "BUILTIN\Users (S-1-5-32-545)", or the SID alone when the
    // name cannot be looked up.
    static std::string AccountText(PSID sid);

private:
    std::vector<std::vector<BYTE>> m_sids;
};
