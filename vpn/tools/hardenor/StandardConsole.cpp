#include "vpn/tools/hardenor/StandardConsole.h"

#include <cstdio>

void CStandardConsole::write(const char* text)
{
    std::fputs(text, stdout);
    std::fflush(stdout);
}

int CStandardConsole::readChar()
{
    return std::getchar();
}
