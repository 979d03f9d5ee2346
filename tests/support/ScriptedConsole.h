#pragma once

#include <sstream>
#include <string>

#include "vpn/tools/hardenor/IConsole.h"

// A console for a run inside the test process: keeps what is written, reads from a script.
class ScriptedConsole : public IConsole
{
public:
    explicit ScriptedConsole(const std::string& script) : input(script) {}
    void write(const char* text) override { written += text; }
    int readChar() override { return input.get(); }

    std::string written;
    std::istringstream input; // what is left of the script
};
