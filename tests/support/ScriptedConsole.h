#pragma once

#include <cstdio>
#include <string>
#include <utility>

#include "vpn/tools/hardenor/IConsole.h"

// A console for a run inside the test process: keeps what the run writes and answers its reads from
// a script, then with the end of input.
class ScriptedConsole : public IConsole
{
public:
    explicit ScriptedConsole(std::string input = std::string()) : m_input(std::move(input)) {}

    void write(const char* text) override { written += text; }
    int readChar() override
    {
        return m_next < m_input.size() ? static_cast<unsigned char>(m_input[m_next++]) : EOF;
    }

    std::string written;

private:
    std::string m_input;
    size_t m_next = 0;
};
