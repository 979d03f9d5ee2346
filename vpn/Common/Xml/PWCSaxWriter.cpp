#include "vpn/Common/Xml/PWCSaxWriter.h"

#include <windows.h>

#include <new>

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Utility/StringConvert.h"
#include "vpn/Common/Utility/Win/FileSecurity.h"
#include "vpn/Common/Utility/Win/PlatformApi.h"
#include "vpn/Common/Utility/Win/UniqueHandle.h"
#include "vpn/Common/Utility/Win/Various.h"

namespace
{
constexpr char kFile[] = "PWCSaxWriter";
constexpr char kWriteDocument[] = "PWCSaxWriter::writeDocument";
constexpr char kCreateFolderFailed[] = "Error creating needed directory";
constexpr wchar_t kDeclaration[] = L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
// Random bytes in a temporary file's name, and the names tried before giving up. A name is
// unpredictable, so one that exists was planted or is a leftover; a few of them are tolerated.
constexpr ULONG kNameRandomBytes = 8;
constexpr int kNameAttempts = 8;

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

// A name beside target that no one can guess: target, a dot, random bytes in hexadecimal, ".tmp".
bool RandomTemporaryName(const std::wstring& target, std::wstring& name)
{
    unsigned char bytes[kNameRandomBytes] = {};
    if (!pw::Api().RtlGenRandom(bytes, kNameRandomBytes))
    {
        LogFailedCall(__LINE__, "RtlGenRandom", GLOBAL_ERROR_UNEXPECTED);
        return false;
    }
    static const wchar_t kDigits[] = L"0123456789abcdef";
    name = target + L".";
    for (const unsigned char byte : bytes)
    {
        name += kDigits[byte >> 4];
        name += kDigits[byte & 0x0F];
    }
    name += L".tmp";
    return true;
}

bool IsDrive(const std::wstring& prefix)
{
    return prefix.size() == 2 && prefix[1] == L':';
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
                           const std::wstring& rootName, const std::wstring& trustedBase)
    : rootName(rootName), directory(directory), fileName(fileName), trustedBase(trustedBase)
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
    if (!isXmlText(text))
    {
        // No escape can carry such a character: writing it would make a document that no parser
        // accepts.
        PW_LOG_RETURN_CODE("PWCSaxWriter::characters", 'E', "PWCSaxWriter::characters",
                           GLOBAL_ERROR_BAD_PARAMETER, nullptr,
                           "Text holds a character that XML 1.0 cannot carry");
        return GLOBAL_ERROR_BAD_PARAMETER;
    }
    if (needsCData(text))
    {
        document += wrapCData(text);
    }
    else
    {
        document += text;
    }
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

bool PWCSaxWriter::isXmlText(const std::wstring& text)
{
    for (size_t i = 0; i < text.size(); ++i)
    {
        const wchar_t c = text[i];
        if (c < 0x20 && c != 0x9 && c != 0xA && c != 0xD)
        {
            return false;
        }
        if (c == 0xFFFE || c == 0xFFFF)
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

ResultCode PWCSaxWriter::createDirectoryPath(const std::wstring& path, const std::wstring& base,
                                             std::vector<CUniqueFileHandle>& folders)
{
    try
    {
        if (!base.empty() && path.compare(0, base.size() + 1, base + L'\\') != 0)
        {
            PW_LOG_RETURN_CODE(kWriteDocument, 'E', "PWCSaxWriter::createDirectoryPath",
                               GLOBAL_ERROR_BAD_PARAMETER, nullptr, "Folder %s is not below %s",
                               CNarrowText(path).c_str(), CNarrowText(base).c_str());
            return GLOBAL_ERROR_BAD_PARAMETER;
        }
        CUniqueLocalMemory descriptor;
        std::wstring prefix;
        prefix.reserve(path.size());
        for (const wchar_t c : path)
        {
            if (c != L'\\')
            {
                prefix += c;
                continue;
            }
            const bool secured = prefix.size() > base.size() && !IsDrive(prefix);
            if (pw::Api().GetFileAttributesW(prefix.c_str()) == INVALID_FILE_ATTRIBUTES)
            {
                SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
                if (secured)
                {
                    if (!descriptor.valid())
                    {
                        const ResultCode built =
                            CFileSecurity::BuildDescriptor(CFileSecurity::kFolderSddl, descriptor);
                        if (built != GLOBAL_SUCCESS)
                        {
                            return built;
                        }
                    }
                    attributes.lpSecurityDescriptor = descriptor.get();
                }
                if (!pw::Api().CreateDirectoryW(prefix.c_str(), secured ? &attributes : nullptr))
                {
                    const DWORD error = ::GetLastError();
                    // A folder that appeared meanwhile is checked below like any existing one.
                    if (!(secured && error == ERROR_ALREADY_EXISTS))
                    {
                        PW_LOG_RETURN_CODE(kWriteDocument, 'E', kWriteDocument, error, nullptr,
                                           kCreateFolderFailed);
                        return error != ERROR_SUCCESS ? error : GLOBAL_ERROR_UNEXPECTED;
                    }
                }
            }
            if (secured)
            {
                CUniqueFileHandle folder;
                const ResultCode checked = CFileSecurity::OpenTrustedFolder(prefix, folder);
                if (checked != GLOBAL_SUCCESS)
                {
                    return checked;
                }
                folders.push_back(std::move(folder));
            }
            prefix += c;
        }
        return GLOBAL_SUCCESS;
    }
    catch (const std::bad_alloc&)
    {
        PW_LOG_RETURN_CODE(kWriteDocument, 'E', kWriteDocument, GLOBAL_ERROR_UNEXPECTED, nullptr,
                           kCreateFolderFailed);
        return GLOBAL_ERROR_UNEXPECTED;
    }
}

bool PWCSaxWriter::createDirectoryPath(const std::wstring& path)
{
    std::vector<CUniqueFileHandle> folders;
    return createDirectoryPath(path, std::wstring(), folders) == GLOBAL_SUCCESS;
}

ResultCode PWCSaxWriter::writeDocument()
{
    // Never the current directory: whatever happens to be there is no place for a machine's policy.
    if (directory.empty())
    {
        PW_LOG_RETURN_CODE(kWriteDocument, 'E', kWriteDocument, GLOBAL_ERROR_UNEXPECTED, nullptr,
                           "No folder for %s: it is not written to the current directory",
                           CNarrowText(fileName).c_str());
        return GLOBAL_ERROR_UNEXPECTED;
    }
    // Held open until the file is in place, so that no checked folder can be swapped meanwhile.
    std::vector<CUniqueFileHandle> folders;
    if (createDirectoryPath(directory, trustedBase, folders) != GLOBAL_SUCCESS)
    {
        return GLOBAL_ERROR_UNEXPECTED;
    }

    // Beside the target, so that the final rename stays within one volume.
    const std::wstring target = directory + fileName;
    std::wstring temporary;
    if (writeTemporaryFile(target, temporary))
    {
        const DWORD error = ReplaceTarget(temporary, target);
        if (error == ERROR_SUCCESS)
        {
            return GLOBAL_SUCCESS;
        }
        LogFailedCall(__LINE__, "::MoveFileEx", error);
    }
    if (!temporary.empty() && !pw::Api().DeleteFileW(temporary.c_str()))
    {
        PW_LOG_RETURN_CODE(kWriteDocument, 'W', "::DeleteFile", ::GetLastError(), nullptr, nullptr);
    }
    return GLOBAL_ERROR_UNEXPECTED;
}

// Creates a new file under an unused random name beside target (CREATE_NEW: an existing file is
// never opened) with CFileSecurity::kFileSddl, writes the whole document to it, flushes and closes
// it; true when done, with its name in path. On failure the file is deleted through its handle
// while that is open; path names it when it is left for the caller to delete, and is empty
// otherwise. Each failure is logged.
bool PWCSaxWriter::writeTemporaryFile(const std::wstring& target, std::wstring& path) const
{
    path.clear();
    const std::string bytes = DiskBytes(document);

    CUniqueLocalMemory descriptor;
    if (CFileSecurity::BuildDescriptor(CFileSecurity::kFileSddl, descriptor) != GLOBAL_SUCCESS)
    {
        return false;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(), FALSE};

    CUniqueFileHandle file;
    std::wstring name;
    for (int attempt = 1; attempt <= kNameAttempts; ++attempt)
    {
        if (!RandomTemporaryName(target, name))
        {
            return false;
        }
        file.reset(pw::Api().CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, 0, &attributes, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.valid())
        {
            break;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
        {
            LogFailedCall(__LINE__, "::CreateFile", error);
            return false;
        }
    }
    if (!file.valid())
    {
        PW_LOG_RETURN_CODE(kWriteDocument, 'E', "::CreateFile", ERROR_FILE_EXISTS, nullptr,
                           "No unused temporary name beside %s after %d attempts",
                           CNarrowText(target).c_str(), kNameAttempts);
        return false;
    }

    // On a failure while the file is open: delete it when the handle closes, or leave its name.
    const auto discard = [&file, &name, &path]()
    {
        FILE_DISPOSITION_INFO disposition = {TRUE};
        if (!pw::Api().SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                                  sizeof(disposition)))
        {
            path = name;
        }
        file.reset();
        return false;
    };

    size_t offset = 0;
    while (offset < bytes.size())
    {
        const DWORD chunk = static_cast<DWORD>(bytes.size() - offset);
        DWORD done = 0;
        if (!pw::Api().WriteFile(file.get(), bytes.data() + offset, chunk, &done, nullptr))
        {
            LogFailedCall(__LINE__, "::WriteFile", ::GetLastError());
            return discard();
        }
        if (done == 0)
        {
            LogFailedCall(__LINE__, "::WriteFile", ERROR_WRITE_FAULT);
            return discard();
        }
        offset += done;
    }

    if (!pw::Api().FlushFileBuffers(file.get()))
    {
        LogFailedCall(__LINE__, "::FlushFileBuffers", ::GetLastError());
        return discard();
    }
    path = name;
    if (!pw::Api().CloseHandle(file.release()))
    {
        LogFailedCall(__LINE__, "::CloseHandle", ::GetLastError());
        return false;
    }
    return true;
}
