#include "vpn/tools/hardenor/Hardenor.h"

int wmain(int argc, wchar_t** argv)
{
    return HardenorMain(argc, argv);
}
