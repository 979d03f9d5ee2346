#pragma once

#include <string>

// The path of a Windows special folder (a CSIDL value) without a trailing backslash, or an empty
// string when the shell cannot give it.
std::wstring GetCSIDLPath(int csidl);
