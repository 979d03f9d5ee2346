#include "vpn/Common/Xml/PWCSaxWriter.h"

#include <windows.h>

#include <new>

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Utility/StringConvert.h"
#include "vpn/Common/Utility/Win/PlatformApi.h"
#include "vpn/Common/Utility/Win/UniqueHandle.h"
#include "vpn/Common/Utility/Win/Various.h"

namespace
{
constexpr char kFile[] = "PWCSaxWriter";
constexpr char kWriteDocument[] = "PWCSaxWriter::writeDocument";
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

void LogFailedCall(int line, const char* invoked, DWORD error)
{
    LogReturnCode(kWriteDocument, kFile, line, 'E', invoked, error, nullptr, nullptr);
}
// Moves the complete temporary file over the target in one step. A reader that has the target
// open (the agent, or another run reading its own file back) refuses the replace for a moment, so
// a refusal is retried for about a second before it counts. Returns the last error, or
// ERROR_SUCCESS.
DWORD ReplaceTarget(const std::wstring& temporary, const std::wstring& target)
{
    return RetryWhileFileInUse(
        [&]() -> DWORD
        {
            return pw::Api().MoveFileExW(temporary.c_str(), target.c_str(),
                                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                       ? ERROR_SUCCESS
                       : ::GetLastError();
        });
}

} // namespace

PWCSaxWriter::PWCSaxWriter(const std::wstring& directory, const std::wstring& fileName,
                           const std::wstring& rootName)
    : rootName(rootName), directory(directory), fileName(fileName)
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
            document += L' ';
            document += attribute.first;
            document += L"=\"";
            document += attribute.second;
            document += L'"';
        }
    }
    document += L'>';
    return GLOBAL_SUCCESS;
}

ResultCode PWCSaxWriter::characters(const std::wstring& text)
{
    if (text.find_first_of(L"&<") != std::wstring::npos)
    {
        document += wrapCData(text);
    }
    else
    {
        document += text;
    }
    return GLOBAL_SUCCESS;
}

ResultCode PWCSaxWriter::endElement(const std::wstring& name)
{
    document += L"</";
    document += name;
    document += L'>';
    return GLOBAL_SUCCESS;
}

ResultCode PWCSaxWriter::endDocument()
{
    document += L"\n</";
    document += rootName;
    document += L">\n";
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

bool PWCSaxWriter::createDirectoryPath(const std::wstring& path)
{
    try
    {
        std::wstring prefix;
        prefix.reserve(path.size());
        for (const wchar_t c : path)
        {
            if (c == L'\\')
            {
                if (pw::Api().GetFileAttributesW(prefix.c_str()) == INVALID_FILE_ATTRIBUTES &&
                    !pw::Api().CreateDirectoryW(prefix.c_str(), nullptr))
                {
                    return false;
                }
            }
            prefix += c;
        }
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

ResultCode PWCSaxWriter::writeDocument()
{
    if (!createDirectoryPath(directory))
    {
        LogReturnCode(kWriteDocument, kFile, __LINE__, 'E', kWriteDocument, GLOBAL_ERROR_UNEXPECTED, nullptr,
                      "Error creating needed directory");
        return GLOBAL_ERROR_UNEXPECTED;
    }

    const std::wstring target = directory + fileName;
    // Beside the target, so that the final rename stays within one volume; named after this
    // process, so that two runs at once never share it.
    const std::wstring temporary = target + L"." + std::to_wstring(pw::Api().GetCurrentProcessId()) + L".tmp";

    bool created = false;
    if (writeTemporaryFile(temporary, created))
    {
        const DWORD error = ReplaceTarget(temporary, target);
        if (error == ERROR_SUCCESS)
        {
            return GLOBAL_SUCCESS;
        }
        LogFailedCall(__LINE__, "::MoveFileEx", error);
    }
    if (created && !pw::Api().DeleteFileW(temporary.c_str()))
    {
        LogReturnCode(kWriteDocument, kFile, __LINE__, 'W', "::DeleteFile", ::GetLastError(), nullptr,
                      nullptr);
    }
    return GLOBAL_ERROR_UNEXPECTED;
}

// Writes the whole document to path and closes it; true when done. created tells whether the
// file exists now (also after a later failure). Each failure is logged.
bool PWCSaxWriter::writeTemporaryFile(const std::wstring& path, bool& created) const
{
    const std::string bytes = DiskBytes(document);

    CUniqueFileHandle file(pw::Api().CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
    {
        LogFailedCall(__LINE__, "::CreateFile", ::GetLastError());
        return false;
    }
    created = true;

    size_t offset = 0;
    while (offset < bytes.size())
    {
        const DWORD chunk = static_cast<DWORD>(bytes.size() - offset);
        DWORD done = 0;
        if (!pw::Api().WriteFile(file.get(), bytes.data() + offset, chunk, &done, nullptr))
        {
            LogFailedCall(__LINE__, "::WriteFile", ::GetLastError());
            return false;
        }
        if (done == 0)
        {
            LogFailedCall(__LINE__, "::WriteFile", ERROR_WRITE_FAULT);
            return false;
        }
        offset += done;
    }

    if (!pw::Api().FlushFileBuffers(file.get()))
    {
        LogFailedCall(__LINE__, "::FlushFileBuffers", ::GetLastError());
        return false;
    }
    if (!pw::Api().CloseHandle(file.release()))
    {
        LogFailedCall(__LINE__, "::CloseHandle", ::GetLastError());
        return false;
    }
    return true;
}
