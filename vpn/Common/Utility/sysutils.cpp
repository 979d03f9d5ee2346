#include "vpn/Common/Utility/sysutils.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Platform/StringConvert.h"
#include "vpn/Common/Platform/PlatformApi.h"

namespace
{
constexpr char kFile[] = "sysutils";
constexpr unsigned kRegularFileBit = 0x8000;
} // namespace

bool fileExists(const std::wstring& path)
{
    struct _stat info = {};
    errno = 0;
    if (pw::Api().wstat(path.c_str(), &info) == 0)
    {
        return (info.st_mode & kRegularFileBit) != 0;
    }
    const int error = errno;
    if (error != ENOENT)
    {
        PW_LOG_RETURN_CODE("fileExists", 'E', "_tstat", static_cast<ResultCode>(error), nullptr,
                           "File: %s\nError: %s", CNarrowText(path).c_str(), std::strerror(error));
    }
    return false;
}
