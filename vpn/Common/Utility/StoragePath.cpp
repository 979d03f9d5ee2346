#include "vpn/Common/Utility/StoragePath.h"

#include <new>

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Platform/ManualLock.h"
#include "vpn/Common/Utility/Win/Various.h"

namespace
{
using LogNames::StoragePath::kFile;
namespace names = LogNames::StoragePath;
constexpr int kCommonAppDataFolder = 0x23; // CSIDL_COMMON_APPDATA
constexpr wchar_t kRelativePath[] = L"\\Veskar\\Veskar Pathweave Roamguard Client\\";

CStoragePath* g_instance = nullptr;
long g_referenceCount = 0;
// Built during static initialisation, before the entry point can create the singleton.
CManualLock g_lock;
} // namespace

CStoragePath::CStoragePath(ResultCode& result)
{
    result = GLOBAL_SUCCESS;
    m_relativePath = kRelativePath;
}

ResultCode CStoragePath::CreateSingletonInstance(CStoragePath*& instance)
{
    instance = nullptr;
    ResultCode result = GLOBAL_SUCCESS;
    {
        // The test and the registration are one step, so that two first callers cannot both
        // create an instance. The lock may be taken again on this thread (GetInstance).
        CManualLock::CScopedLock hold(g_lock);
        if (g_instance != nullptr || g_referenceCount != 0)
        {
            instance = GetInstance();
            return GLOBAL_SUCCESS;
        }

        CStoragePath* created = new (std::nothrow) CStoragePath(result);
        if (created == nullptr)
        {
            result = GLOBAL_ERROR_MEMALLOC_FAILED;
        }
        else if (result == GLOBAL_SUCCESS)
        {
            g_instance = created;
            g_referenceCount = 1;
            instance = created;
            return GLOBAL_SUCCESS;
        }
        ReleaseInstance(created);
    }
    PW_LOG_RETURN_CODE(names::kCreateSingletonInstance, 'E', LogNames::Invoked::kCStoragePath, result,
                       nullptr, nullptr);
    return result;
}

CStoragePath* CStoragePath::GetInstance()
{
    CManualLock::CScopedLock hold(g_lock);
    if (g_instance != nullptr)
    {
        ++g_referenceCount;
    }
    return g_instance;
}

void CStoragePath::ReleaseInstance(CStoragePath* instance)
{
    CManualLock::CScopedLock hold(g_lock);
    if (instance != nullptr && instance == g_instance)
    {
        if (--g_referenceCount > 0)
        {
            return;
        }
        g_referenceCount = 0;
        g_instance = nullptr;
    }
    delete instance;
}

long CStoragePath::ReferenceCount()
{
    CManualLock::CScopedLock hold(g_lock);
    return g_referenceCount;
}

std::wstring CStoragePath::GetMainPath() const
{
    const std::wstring folder = GetCSIDLPath(kCommonAppDataFolder);
    if (folder.empty())
    {
        PW_LOG_DEBUG(names::kGetMainPath, 'W',
                     "CSIDL value provided to CStoragePath::GetMainPath returned an empty string.");
        return std::wstring();
    }
    return folder + m_relativePath;
}
