#pragma once

// The console of a run: where its messages go and where the answer to its one question comes from.
class IConsole
{
public:
    virtual ~IConsole() = default;

    // Writes one message, UTF-8 text, whole; it has reached the console when the call returns.
    virtual void write(const char* text) = 0;
    // Reads one character of input; EOF at the end of input.
    virtual int readChar() = 0;
};
