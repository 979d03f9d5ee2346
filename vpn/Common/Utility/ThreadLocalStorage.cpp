#include "vpn/Common/Utility/ThreadLocalStorage.h"

namespace
{
CThreadLocalStorage<unsigned long> g_processThreadLocalStorage;
}

CThreadLocalStorage<unsigned long>& ProcessThreadLocalStorage()
{
    return g_processThreadLocalStorage;
}
