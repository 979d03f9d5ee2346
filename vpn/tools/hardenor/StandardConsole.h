#pragma once

#include "vpn/tools/hardenor/IConsole.h"

// The process's standard output and standard input, as the C runtime has them.
class CStandardConsole : public IConsole
{
public:
    void write(const char* text) override;
    int readChar() override;
};
