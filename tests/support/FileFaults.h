#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <utility>

#include "ApiOverride.h"

// A SetFileInformationByHandle that refuses every rename of an open file (FileRenameInfo and
// pw::kFileRenameInfoEx) with error and counts the calls in *attempts; every other call passes on to the
// real function.
inline std::function<BOOL(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD)> RenameRefuser(
    DWORD error, std::shared_ptr<int> attempts = std::make_shared<int>(0))
{
    return [error, attempts](HANDLE file, FILE_INFO_BY_HANDLE_CLASS type, LPVOID data, DWORD size)
    {
        if (type != FileRenameInfo && type != pw::kFileRenameInfoEx)
        {
            return ::SetFileInformationByHandle(file, type, data, size);
        }
        ++*attempts;
        ::SetLastError(error);
        return FALSE;
    };
}

// The same for the lifetime of the returned object.
inline ApiOverride<BOOL(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD)> RefuseRename(
    DWORD error, std::shared_ptr<int> attempts = std::make_shared<int>(0))
{
    return OverrideApi(&pw::PlatformApi::SetFileInformationByHandle,
                       RenameRefuser(error, std::move(attempts)));
}
