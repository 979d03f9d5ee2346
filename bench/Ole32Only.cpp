// Imports ole32 and calls nothing in it: the cost of loading COM's library at start-up.
#include <windows.h>

#include <objbase.h>

int wmain()
{
    // Taking the address keeps the import without running COM.
    decltype(&::CoUninitialize) volatile uninitialize = &::CoUninitialize;
    return uninitialize == nullptr ? 1 : 0;
}
