#include "vpn/tools/hardenor/StandardConsole.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "vpn/Common/Platform/PlatformApi.h"
#include "vpn/Common/Platform/StringConvert.h"

namespace
{
// WriteConsoleW takes a buffer of up to 64 KiB: longer text goes in parts.
constexpr size_t kConsoleChunk = size_t{16} * 1024;

void WriteToConsole(HANDLE output, const std::wstring& text)
{
    for (size_t at = 0; at < text.size();)
    {
        const DWORD size = static_cast<DWORD>(std::min(kConsoleChunk, text.size() - at));
        DWORD written = 0;
        if (!pw::Api().WriteConsoleW(output, text.data() + at, size, &written, nullptr) || written == 0)
        {
            return;
        }
        at += written;
    }
}

void WriteToFile(HANDLE output, const std::string& bytes)
{
    for (size_t at = 0; at < bytes.size();)
    {
        DWORD written = 0;
        if (!pw::Api().WriteFile(output, bytes.data() + at, static_cast<DWORD>(bytes.size() - at), &written,
                                 nullptr) ||
            written == 0)
        {
            return;
        }
        at += written;
    }
}
} // namespace

CStandardConsole::CStandardConsole() : m_output(pw::Api().GetStdHandle(STD_OUTPUT_HANDLE)) {}

void CStandardConsole::write(const char* text)
{
    if (m_output == nullptr || m_output == INVALID_HANDLE_VALUE || text == nullptr)
    {
        return;
    }
    const std::wstring wide = FromUtf8(text);
    DWORD mode = 0;
    if (pw::Api().GetConsoleMode(m_output, &mode))
    {
        WriteToConsole(m_output, wide);
        return;
    }
    std::wstring lines;
    lines.reserve(wide.size());
    for (const wchar_t character : wide)
    {
        if (character == L'\n')
        {
            lines += L'\r';
        }
        lines += character;
    }
    const UINT codePage = pw::Api().GetConsoleOutputCP();
    const CNarrowText narrow(lines, codePage != 0 ? codePage : CP_OEMCP);
    WriteToFile(m_output, narrow.c_str_or(""));
}

int CStandardConsole::readChar()
{
    return std::getchar();
}
