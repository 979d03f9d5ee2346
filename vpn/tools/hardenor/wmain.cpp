#include "vpn/tools/hardenor/Hardenor.h"
#include "vpn/tools/hardenor/StandardConsole.h"

int wmain(int argc, wchar_t** argv)
{
    CStandardConsole console;
    return HardenorMain(argc, argv, console);
}
