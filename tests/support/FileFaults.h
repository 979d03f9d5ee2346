#pragma once

#include <windows.h>

#include <memory>

#include "ApiOverride.h"

// Refuses every rename of an open file (SetFileInformationByHandle with FileRenameInfo) with error
// and counts the attempts in *attempts; every other call passes on to the real function.
inline ApiOverride<BOOL(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD)> RefuseRename(
    DWORD error, std::shared_ptr<int> attempts = std::make_shared<int>(0))
{
    return OverrideApi(&pw::PlatformApi::SetFileInformationByHandle,
                       [error, attempts](HANDLE file, FILE_INFO_BY_HANDLE_CLASS type, LPVOID data, DWORD size)
                       {
                           if (type != FileRenameInfo)
                           {
                               return ::SetFileInformationByHandle(file, type, data, size);
                           }
                           ++*attempts;
                           ::SetLastError(error);
                           return FALSE;
                       });
}
