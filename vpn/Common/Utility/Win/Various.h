#pragma once

#include <windows.h>

#include <functional>
#include <string>

// The path of a Windows special folder (a CSIDL value) without a trailing backslash, or an empty
// string when the shell cannot give it.
std::wstring GetCSIDLPath(int csidl);

// True for the errors of a file that another opener holds in a way that excludes the caller for the
// moment: a sharing or lock violation. A refused access is not one of them by itself: it may come
// from the file's rights or attributes, which waiting does not change.
bool IsFileInUse(DWORD error);

// Runs attempt, which returns ERROR_SUCCESS or the Win32 error of a file operation, again while the
// file is in use (inUse, IsFileInUse unless given): at most kFileInUseAttempts times, with a pause of
// kFileInUsePauseMs through the platform seam between two attempts. Returns the result of the last
// attempt.
constexpr int kFileInUseAttempts = 20;
constexpr DWORD kFileInUsePauseMs = 50;
DWORD RetryWhileFileInUse(const std::function<DWORD()>& attempt,
                          const std::function<bool(DWORD)>& inUse = IsFileInUse);

// The native program files folder ("C:\Program Files") for a process that runs under WOW64 (a
// 32-bit process on 64-bit Windows), whose shell folder is the 32-bit one; empty for any other
// process, and when Windows cannot tell.
std::wstring NativeProgramFilesFolder();
