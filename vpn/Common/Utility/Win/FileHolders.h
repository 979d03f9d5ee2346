#pragma once

// Names the processes that hold a file open, as the Restart Manager sees them, so that an
// administrator whose update is blocked knows what to close.

#include <string>

#include "vpn/Common/Logging/ResultCodes.h"

class CFileHolders
{
public:
    // "name (process id N), ..." for the processes that hold path open, and 0. Otherwise holders is
    // empty and the code says why: the error of a Restart Manager call (logged at level 'W'), or
    // ERROR_NOT_FOUND when it sees no holder (one in another session, say).
    [[nodiscard]] static ResultCode Describe(const std::wstring& path, std::string& holders);
};
