#pragma once

#include <string>

// True when path names an existing regular file; a directory or a missing path gives false.
bool fileExists(const std::wstring& path);
