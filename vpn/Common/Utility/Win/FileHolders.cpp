#include "vpn/Common/Utility/Win/FileHolders.h"

#include <windows.h>

#include <restartmanager.h>

#include <cstdio>
#include <cwchar>
#include <vector>

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Platform/PlatformApi.h"
#include "vpn/Common/Platform/StringConvert.h"
#include "vpn/Common/Platform/UniqueHandle.h"

namespace
{
using LogNames::FileHolders::kFile;
namespace names = LogNames::FileHolders;
constexpr const char* kFunction = names::kDescribe;
// The list may grow between asking for its size and reading it; a few tries are enough.
constexpr int kListAttempts = 3;
} // namespace

ResultCode CFileHolders::Describe(const std::wstring& path, std::string& holders)
{
    holders.clear();
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    CUniqueRestartSession session;
    DWORD error = PW_LOG_IF_FAILED_AT('W', LogNames::Invoked::kRmStartSession,
                                      pw::Api().RmStartSession(session.put(), 0, key), nullptr);
    if (error != ERROR_SUCCESS)
    {
        // A failed start gives no session to end.
        (void)session.release();
        return error;
    }
    LPCWSTR files[] = {path.c_str()};
    PW_RETURN_IF_FAILED_AT('W', LogNames::Invoked::kRmRegisterResources,
                           pw::Api().RmRegisterResources(session.get(), 1, files, 0, nullptr, 0, nullptr),
                           nullptr);

    std::vector<RM_PROCESS_INFO> processes;
    UINT count = 0;
    for (int attempt = 0; attempt < kListAttempts; ++attempt)
    {
        UINT needed = 0;
        count = static_cast<UINT>(processes.size());
        DWORD reasons = 0;
        error = pw::Api().RmGetList(session.get(), &needed, &count,
                                    processes.empty() ? nullptr : processes.data(), &reasons);
        if (error != ERROR_MORE_DATA)
        {
            break;
        }
        processes.resize(needed);
    }
    PW_RETURN_IF_FAILED_AT('W', LogNames::Invoked::kRmGetList, error, nullptr);
    // None that it can see: a holder in another session, say.
    if (count == 0 || count > processes.size())
    {
        return ERROR_NOT_FOUND;
    }

    for (UINT index = 0; index < count; ++index)
    {
        const RM_PROCESS_INFO& process = processes[index];
        std::wstring name(process.strAppName, wcsnlen(process.strAppName, CCH_RM_MAX_APP_NAME));
        const CNarrowText narrow(name);
        char id[32] = {};
        std::snprintf(id, sizeof(id), " (process id %lu)",
                      static_cast<unsigned long>(process.Process.dwProcessId));
        holders += (holders.empty() ? "" : ", ") + std::string(narrow.c_str_or("?")) + id;
    }
    return GLOBAL_SUCCESS;
}
