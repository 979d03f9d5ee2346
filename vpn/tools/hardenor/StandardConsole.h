#pragma once

#include <windows.h>

#include "vpn/tools/hardenor/IConsole.h"

// The process's standard output and standard input. The text that a run writes is UTF-8; it goes
// to a console as UTF-16, which shows it as typed whatever the console's code page. To a file or a
// pipe it goes in the console's output code page, or the OEM code page when the process has no
// console: the code page in which cmd and PowerShell decode a native program's output. Line breaks
// are written as CR LF there. A write that fails is not reported: there is nowhere to report it.
class CStandardConsole : public IConsole
{
public:
    // Standard output.
    CStandardConsole();
    // Another output handle, which the console does not own.
    explicit CStandardConsole(HANDLE output) : m_output(output) {}

    void write(const char* text) override;
    int readChar() override;

private:
    HANDLE m_output;
};
