#pragma once

#include <string>

#include "vpn/Common/Logging/ResultCodes.h"

// True when path names an existing regular file; a directory or a missing path gives false.
bool fileExists(const std::wstring& path);

// The same with the cause of a failure: 0 with regularFile set, or the errno value of a stat that
// failed for another reason than a missing path (logged), with regularFile false.
[[nodiscard]] ResultCode testRegularFile(const std::wstring& path, bool& regularFile);
