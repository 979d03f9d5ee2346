#include "vpn/Common/Utility/sysutils.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Platform/PlatformApi.h"
#include "vpn/Common/Platform/StringConvert.h"

namespace
{
using LogNames::sysutils::kFile;
namespace names = LogNames::sysutils;
constexpr unsigned kRegularFileBit = 0x8000;
} // namespace

bool fileExists(const std::wstring& path)
{
    bool regularFile = false;
    return testRegularFile(path, regularFile) == GLOBAL_SUCCESS && regularFile;
}

ResultCode testRegularFile(const std::wstring& path, bool& regularFile)
{
    regularFile = false;
    struct _stat info = {};
    errno = 0;
    if (pw::Api().wstat(path.c_str(), &info) == 0)
    {
        regularFile = (info.st_mode & kRegularFileBit) != 0;
        return GLOBAL_SUCCESS;
    }
    const int error = errno;
    if (error == ENOENT)
    {
        return GLOBAL_SUCCESS;
    }
    // Never 0: a failed stat that left errno alone still failed.
    const ResultCode code = error != 0 ? static_cast<ResultCode>(error) : GLOBAL_ERROR_UNEXPECTED;
    PW_LOG_RETURN_CODE(names::kFileExists, 'E', LogNames::Invoked::kTstat, code, nullptr,
                       "File: %s\nError: %s", CNarrowText(path).c_str(), std::strerror(error));
    return code;
}
