#include <windows.h>

#include "vpn/Common/Logging/DiagnosticLog.h"

namespace
{
constexpr char kFile[] = "Hardenor";
}

int wmain(int /*argc*/, wchar_t** /*argv*/)
{
    ResultCode logResult = 0;
    DiagnosticLogScope log(logResult);
    (void)kFile;
    return 0;
}
