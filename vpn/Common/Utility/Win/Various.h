#pragma once

#include <windows.h>

#include <functional>
#include <string>

// The path of a Windows special folder (a CSIDL value) without a trailing backslash, or an empty
// string when the shell cannot give it.
std::wstring GetCSIDLPath(int csidl);

// True for the errors of a file that another opener holds in a way that excludes the caller for the
// moment: a sharing or lock violation, or access denied while the file is being replaced or deleted.
bool IsFileInUse(DWORD error);

// Runs attempt, which returns ERROR_SUCCESS or the Win32 error of a file operation, again while the
// file is in use (inUse, IsFileInUse unless given): at most kFileInUseAttempts times, with a pause of
// kFileInUsePauseMs through the platform seam between two attempts. Returns the result of the last
// attempt.
constexpr int kFileInUseAttempts = 20;
constexpr DWORD kFileInUsePauseMs = 50;
DWORD RetryWhileFileInUse(const std::function<DWORD()>& attempt, bool (*inUse)(DWORD) = IsFileInUse);
