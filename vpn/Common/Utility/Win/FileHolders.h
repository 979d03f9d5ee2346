#pragma once

// Names the processes that hold a file open, as the Restart Manager sees them, so that an
// administrator whose update is blocked knows what to close.

#include <string>

class CFileHolders
{
public:
    // "name (process id N), ..." for the processes that hold path open. False, with holders empty,
    // when the Restart Manager cannot tell (the failed call is logged at level 'W').
    [[nodiscard]] static bool Describe(const std::wstring& path, std::string& holders);
};
