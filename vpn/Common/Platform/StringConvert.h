#pragma once

#include <windows.h>

#include <string>

// Converts a zero-terminated wide string into destination (size bytes) in the given code page.
// Returns destination, or nullptr when a pointer is null or the conversion fails; the first byte
// of destination is cleared before converting.
char* ToNarrow(char* destination, const wchar_t* source, int size, UINT codePage);

// The narrow form of a wide value for a "%s" of a log format, in the thread's ANSI code page unless
// another is given. Empty optional (null c_str) when the text cannot be converted.
class CNarrowText
{
public:
    explicit CNarrowText(const std::wstring& text, UINT codePage = CP_THREAD_ACP);
    explicit CNarrowText(const wchar_t* text, UINT codePage = CP_THREAD_ACP);
    // The converted text, or nullptr when the conversion failed.
    const char* c_str() const { return m_ok ? m_buffer.c_str() : nullptr; }
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
