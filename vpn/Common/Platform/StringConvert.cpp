#include "vpn/Common/Platform/StringConvert.h"

#include <vector>

char* ToNarrow(char* destination, const wchar_t* source, int size, UINT codePage)
{
    if (destination == nullptr || source == nullptr)
    {
        return nullptr;
    }
    if (size > 0)
    {
        destination[0] = '\0';
    }
    const int written = ::WideCharToMultiByte(codePage, 0, source, -1, destination, size, nullptr, nullptr);
    return written > 0 ? destination : nullptr;
}

CNarrowText::CNarrowText(const std::wstring& text, UINT codePage) : CNarrowText(text.c_str(), codePage) {}

CNarrowText::CNarrowText(const wchar_t* text, UINT codePage)
{
    if (text == nullptr)
    {
        return;
    }
    // A character may take more bytes than UTF-16 units (three for most of the basic plane in UTF-8):
    // the conversion itself says how many it needs, terminator included.
    const int needed = ::WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
    {
        return;
    }
    std::vector<char> buffer(static_cast<size_t>(needed));
    if (ToNarrow(buffer.data(), text, needed, codePage) != nullptr)
    {
        m_buffer = buffer.data();
        m_ok = true;
    }
}

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty())
    {
        return std::string();
    }
    const int length = static_cast<int>(text.size());
    const int needed = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
    {
        return std::string();
    }
    std::string result(static_cast<size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, &result[0], needed, nullptr, nullptr);
    return result;
}

std::wstring FromUtf8(const std::string& text)
{
    if (text.empty())
    {
        return std::wstring();
    }
    const int length = static_cast<int>(text.size());
    const int needed = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (needed <= 0)
    {
        return std::wstring();
    }
    std::wstring result(static_cast<size_t>(needed), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, &result[0], needed);
    return result;
}
