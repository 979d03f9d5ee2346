#include "vpn/Common/Xml/PWCSaxWriter.h"

#include <windows.h>

#include <new>

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Platform/StringConvert.h"
#include "vpn/Common/Utility/Win/AtomicFileWriter.h"

namespace
{
using LogNames::PWCSaxWriter::kFile;
namespace names = LogNames::PWCSaxWriter;
constexpr const char* kWriteDocument = names::kWriteDocument;
constexpr wchar_t kDeclaration[] = L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
// The document's bytes on disk: UTF-8 with every line feed written as carriage return plus line
// feed, as a text-mode stream writes it.
std::string DiskBytes(const std::wstring& document)
{
    std::wstring text;
    text.reserve(document.size() + document.size() / 16);
    for (const wchar_t c : document)
    {
        if (c == L'\n')
        {
            text += L'\r';
        }
        text += c;
    }
    return ToUtf8(text);
}

} // namespace

PWCSaxWriter::PWCSaxWriter(const std::wstring& directory, const std::wstring& fileName,
                           const std::wstring& rootName, const CTrustedIdentities& trusted,
                           const std::wstring& trustedBase)
    : rootName(rootName), directory(directory), fileName(fileName), trustedBase(trustedBase), trusted(trusted)
{
}

ResultCode PWCSaxWriter::startDocument(const AttributeList* attributes)
{
    document = kDeclaration;
    return startElement(rootName, attributes);
}

ResultCode PWCSaxWriter::startElement(const std::wstring& name, const AttributeList* attributes)
{
    document += L"\n<";
    document += name;
    if (attributes != nullptr)
    {
        for (const AttributeList::Attribute& attribute : *attributes)
        {
            document += L' ' + attribute.first + L"=\"" + attribute.second + L'"';
        }
    }
    document += L'>';
    return GLOBAL_SUCCESS;
}

ResultCode PWCSaxWriter::characters(const std::wstring& text)
{
    if (!isXmlText(text))
    {
        // No escape can carry such a character: writing it would make a document that no parser
        // accepts.
        PW_LOG_RETURN_CODE(names::kCharacters, 'E', LogNames::Invoked::kPWCSaxWriterCharacters,
                           GLOBAL_ERROR_BAD_PARAMETER, nullptr,
                           "Text holds a character that XML 1.0 cannot carry");
        return GLOBAL_ERROR_BAD_PARAMETER;
    }
    document += needsCData(text) ? wrapCData(text) : text;
    return GLOBAL_SUCCESS;
}

// "]]>" may not stand in character data: neither within the text, nor where the text meets
// plain text written by the call before (a document ending in "]" or "]]"). A tag or a section
// always ends in ">", so only plain text can leave a "]" at the end of the document.
bool PWCSaxWriter::needsCData(const std::wstring& text) const
{
    static const std::wstring kSectionEnd = L"]]>";
    if (text.find_first_of(L"&<") != std::wstring::npos || text.find(kSectionEnd) != std::wstring::npos)
    {
        return true;
    }
    const size_t tail = document.size() < 2 ? document.size() : 2;
    const std::wstring seam = document.substr(document.size() - tail) + text.substr(0, 2);
    return seam.find(kSectionEnd) != std::wstring::npos;
}

ResultCode PWCSaxWriter::endElement(const std::wstring& name)
{
    document += L"</" + name + L'>';
    return GLOBAL_SUCCESS;
}

ResultCode PWCSaxWriter::endDocument()
{
    document += L"\n</" + rootName + L">\n";
    return GLOBAL_SUCCESS;
}

std::wstring PWCSaxWriter::getDocument() const
{
    return document;
}

std::wstring PWCSaxWriter::wrapCData(const std::wstring& text)
{
    static const std::wstring kOpen = L"<![CDATA[";
    static const std::wstring kClose = L"]]>";
    std::wstring result;
    std::wstring::size_type start = 0;
    for (std::wstring::size_type p = text.find(kClose, start); p != std::wstring::npos;
         p = text.find(kClose, start))
    {
        // The section ends after "]]"; the ">" starts the next one.
        result += kOpen;
        result.append(text, start, p + 2 - start);
        result += kClose;
        start = p + 2;
    }
    result += kOpen;
    result.append(text, start, std::wstring::npos);
    result += kClose;
    return result;
}

bool PWCSaxWriter::isXmlText(const std::wstring& text)
{
    for (size_t i = 0; i < text.size(); ++i)
    {
        const wchar_t c = text[i];
        if ((c < 0x20 && c != 0x9 && c != 0xA && c != 0xD) || c == 0xFFFE || c == 0xFFFF)
        {
            return false;
        }
        if (c >= 0xD800 && c <= 0xDBFF)
        {
            // A high surrogate counts only together with the low one that follows it.
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
            {
                return false;
            }
            ++i;
        }
        else if (c >= 0xDC00 && c <= 0xDFFF)
        {
            return false;
        }
    }
    return true;
}

ResultCode PWCSaxWriter::writeDocument()
{
    return writeDocument(nullptr);
}

ResultCode PWCSaxWriter::writeDocument(TargetRefusal* refusal)
{
    CAtomicFileWriter file(kWriteDocument, directory, fileName, trustedBase, trusted);
    const ResultCode written = file.write(DiskBytes(document), refusal);
    return written == GLOBAL_SUCCESS ? GLOBAL_SUCCESS : GLOBAL_ERROR_UNEXPECTED;
}
