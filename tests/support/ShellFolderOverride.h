#pragma once

#include <windows.h>

#include "ApiOverride.h"

// The shell's special-folder function, SHGetFolderPathW, which the product looks up by name.
using ShellFolderFunction = HRESULT(WINAPI*)(HWND owner, int csidl, HANDLE token, DWORD flags, LPWSTR path);

using ShellFolderOverride = ApiOverride<FARPROC(HMODULE, LPCSTR)>;

// For the lifetime of the returned object, the product's lookup of SHGetFolderPathW gives
// replacement; a null replacement makes the lookup fail with ERROR_PROC_NOT_FOUND, as on a machine
// where the common application data folder cannot be found. Every other lookup passes on.
ShellFolderOverride OverrideShellFolderFunction(ShellFolderFunction replacement);
