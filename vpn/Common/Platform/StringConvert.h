#pragma once

#include <windows.h>

#include <string>

// Converts a zero-terminated wide string into destination (size bytes) in the given code page.
// Returns destination, or nullptr when a pointer is null or the conversion fails; the first byte
// of destination is cleared before converting.
char* ToNarrow(char* destination, const wchar_t* source, int size, UINT codePage);

// The narrow form of a wide value for a "%s" of a log format, in the thread's ANSI code page unless
// another is given. A "%s" is never given a null text: one that cannot be converted shows as "?".
class CNarrowText
{
public:
    explicit CNarrowText(const std::wstring& text, UINT codePage = CP_THREAD_ACP);
    explicit CNarrowText(const wchar_t* text, UINT codePage = CP_THREAD_ACP);
    bool converted() const { return m_ok; }
    // The converted text, or "?" when the conversion failed.
    const char* c_str() const { return c_str_or("?"); }
    // The converted text, or fallback when the conversion failed.
    const char* c_str_or(const char* fallback) const { return m_ok ? m_buffer.c_str() : fallback; }

private:
    std::string m_buffer;
    bool m_ok = false;
};

// UTF-8 bytes of a wide string (unpaired surrogates become U+FFFD).
std::string ToUtf8(const std::wstring& text);

// The wide form of UTF-8 text (invalid bytes become U+FFFD).
std::wstring FromUtf8(const std::string& text);
