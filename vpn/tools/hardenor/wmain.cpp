#include <cstdio>

#include "vpn/tools/hardenor/Hardenor.h"
#include "vpn/tools/hardenor/StandardConsole.h"

namespace
{
// Holds the longest output that is written at once, the usage text.
constexpr size_t kOutputBufferSize = 4096;
} // namespace

int wmain(int argc, wchar_t** argv)
{
    // Every message is flushed whole, so the console gets the same text at the same moments;
    // buffered, it gets each message in one write rather than one write per character, which is
    // what an unbuffered stream costs under some C runtimes.
    std::setvbuf(stdout, nullptr, _IOFBF, kOutputBufferSize);
    CStandardConsole console;
    return HardenorMain(argc, argv, console);
}
