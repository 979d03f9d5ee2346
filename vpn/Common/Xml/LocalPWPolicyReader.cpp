#include "vpn/Common/Xml/LocalPWPolicyReader.h"

#include <utility>

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Platform/PlatformApi.h"
#include "vpn/Common/Platform/StringConvert.h"
#include "vpn/Common/Utility/Win/AtomicFileWriter.h"
#include "vpn/Common/Utility/Win/FileSecurity.h"
#include "vpn/Common/Utility/Win/TrustedIdentities.h"
#include "vpn/Common/Utility/Win/Various.h"
#include "vpn/Common/Xml/LocalPWPolicyFormat.h"
#include "vpn/Common/Xml/LocalPWPolicyTable.h"

using namespace LocalPWPolicyFormat;

namespace
{
// The entries of this room are the policy manager's: they carry its function and source names, the
// names that the event log has always shown for them.
using LogNames::XmlLocalPWPolMgr::kFile;
namespace names = LogNames::XmlLocalPWPolMgr;

// The decimal integer at the start of piece: optional blanks, an optional sign, digits; 0 when
// there are none. Saturates instead of overflowing.
long long LeadingInteger(const std::wstring& piece)
{
    size_t i = 0;
    while (i < piece.size() && (piece[i] == L' ' || piece[i] == L'\t'))
    {
        ++i;
    }
    bool negative = false;
    if (i < piece.size() && (piece[i] == L'+' || piece[i] == L'-'))
    {
        negative = piece[i] == L'-';
        ++i;
    }
    constexpr long long kLimit = 0x7FFFFFFF;
    long long value = 0;
    for (; i < piece.size() && piece[i] >= L'0' && piece[i] <= L'9'; ++i)
    {
        value = value * 10 + (piece[i] - L'0');
        if (value > kLimit)
        {
            value = kLimit;
        }
    }
    return negative ? -value : value;
}

// The numbers of a version text cut at every "." and ",".
std::vector<long long> VersionNumbers(const std::wstring& version)
{
    std::vector<long long> numbers;
    size_t start = 0;
    for (;;)
    {
        const size_t end = version.find_first_of(L".,", start);
        numbers.push_back(LeadingInteger(version.substr(start, end - start)));
        if (end == std::wstring::npos)
        {
            return numbers;
        }
        start = end + 1;
    }
}

// Negative, zero or positive as a is older than, equal to or newer than b.
int CompareVersions(const std::wstring& a, const std::wstring& b)
{
    const std::vector<long long> left = VersionNumbers(a);
    const std::vector<long long> right = VersionNumbers(b);
    const size_t count = left.size() > right.size() ? left.size() : right.size();
    for (size_t i = 0; i < count; ++i)
    {
        const long long l = i < left.size() ? left[i] : 0;
        const long long r = i < right.size() ? right[i] : 0;
        if (l != r)
        {
            return l < r ? -1 : 1;
        }
    }
    return 0;
}
} // namespace

void LocalPWPolicyReader::reset()
{
    openElements.clear();
    inAuthorizedServerList = false;
    inUpdatePolicy = false;
    m_filed = FiledPolicies();
}

void LocalPWPolicyReader::startElement(const std::wstring& name)
{
    fileElement(name);
    // A child's text is its own: the text of the element around it goes on after the child's end.
    OpenElement element;
    element.tag = name;
    if (name == kUpdatePolicyElement)
    {
        inUpdatePolicy = true;
    }
    if (name == kAuthorizedServerListElement)
    {
        if (inUpdatePolicy)
        {
            inAuthorizedServerList = true;
        }
    }
    else if (name != kServerNameElement || inAuthorizedServerList)
    {
        element.name = name;
    }
    openElements.push_back(std::move(element));
}

void LocalPWPolicyReader::endElement(const std::wstring& name)
{
    if (!openElements.empty())
    {
        const OpenElement element = std::move(openElements.back());
        openElements.pop_back();
        fileText(element);
        if (!element.text.empty())
        {
            applyElementValue(element);
        }
    }
    if (name == kAuthorizedServerListElement)
    {
        inAuthorizedServerList = false;
    }
    else if (name == kUpdatePolicyElement)
    {
        inUpdatePolicy = false;
    }
}

void LocalPWPolicyReader::characters(const std::wstring& text)
{
    // The reader may deliver one element's text in several pieces (around entity references,
    // CDATA sections, non-ASCII characters or child elements); the value is the whole text, taken
    // at the end tag.
    if (!openElements.empty() && !openElements.back().name.empty())
    {
        openElements.back().text += text;
    }
}

void LocalPWPolicyReader::applyElementValue(const OpenElement& element)
{
    // A server name is read only inside the update group's server list (see startElement), so it
    // needs no check of the group here.
    const bool serverName = element.name == kServerNameElement;
    const PolicyDefinition* policy =
        LocalPWPolicyTable::findByName(serverName ? kAuthorizedServerListElement : element.name);
    if (policy == nullptr)
    {
        return;
    }
    if (policy->updateGroup && !inUpdatePolicy && !serverName)
    {
        PW_LOG_DEBUG(names::kSetElementValue, 'W', "Local Policy XML structure is incorrect.");
        return;
    }
    policy->store(element.text, record);
}

void LocalPWPolicyReader::fileElement(const std::wstring& tag)
{
    const std::wstring parent = openElements.empty() ? std::wstring() : openElements.back().tag;
    const size_t depth = openElements.size();
    const PolicyDefinition* policy = LocalPWPolicyTable::findByName(tag);
    const bool inPlace =
        (depth == 0 && tag == kRootElement) ||
        (depth == 1 && (tag == kUpdatePolicyElement || (policy != nullptr && !policy->updateGroup))) ||
        (depth == 2 && parent == kUpdatePolicyElement && policy != nullptr && policy->updateGroup) ||
        (depth == 3 && parent == kAuthorizedServerListElement && tag == kServerNameElement);
    if (!inPlace)
    {
        noteForeign(L"the element " + tag + L", which is not a policy where it stands");
        return;
    }
    if (policy == nullptr)
    {
        return;
    }
    for (const FiledPolicy& filed : m_filed.policies)
    {
        if (filed.name == tag)
        {
            noteForeign(L"the policy " + tag + L" twice");
            return;
        }
    }
    m_filed.policies.push_back({tag, std::wstring()});
}

void LocalPWPolicyReader::fileText(const OpenElement& element)
{
    if (m_filed.policies.empty())
    {
        return;
    }
    FiledPolicy& last = m_filed.policies.back();
    if (element.tag == kServerNameElement && last.name == kAuthorizedServerListElement)
    {
        // Names are joined with ";": a name that holds a separator, or nothing, would not come back.
        if (element.text.empty() || element.text.find_first_of(L",;") != std::wstring::npos)
        {
            noteForeign(L"the server name \"" + element.text + L"\", which a list cannot hold");
            return;
        }
        last.value += (last.value.empty() ? L"" : L";") + element.text;
    }
    else if (element.tag == last.name && element.tag != kAuthorizedServerListElement)
    {
        last.value = element.text;
    }
}

void LocalPWPolicyReader::noteForeign(std::wstring cause)
{
    if (m_filed.foreign.empty())
    {
        m_filed.foreign = std::move(cause);
    }
}

void LocalPWPolicyReader::attribute(const std::wstring& name, const std::wstring& value)
{
    if (openElements.empty() || openElements.back().name != kRootElement || name != kVersionAttribute)
    {
        return;
    }
    record.setVersion(value);
    if (CompareVersions(value, kCurrentVersion) > 0)
    {
        PW_LOG_DEBUG(
            names::kAddAttribute, 'W',
            "The parsed Local Security Policy File version is newer than the current Pathweave Client. "
            "Unexpected behaviors can result.");
    }
}

namespace
{
constexpr const char* kFunction = names::kLoadLocalPolicy;
constexpr char kTrustedAccounts[] = "SYSTEM, Administrators, TrustedInstaller or the user running this tool";

// Reads size bytes from the start of an open file into bytes; 0, or the error, logged at level.
ResultCode ReadWhole(char level, const CUniqueFileHandle& file, ULONGLONG size, const std::wstring& path,
                     std::string& bytes)
{
    if (size > LocalPWPolicyReader::kMaxFileBytes)
    {
        PW_LOG_RETURN_CODE(kFunction, level, LogNames::Invoked::kReadFile, ERROR_FILE_TOO_LARGE, nullptr,
                           "%s is not read: it holds %s bytes, more than any policy takes",
                           CNarrowText(path).c_str(), std::to_string(size).c_str());
        return ERROR_FILE_TOO_LARGE;
    }
    bytes.assign(static_cast<size_t>(size), '\0');
    size_t done = 0;
    DWORD got = 0;
    do
    {
        PW_RETURN_IF_WIN32_BOOL_FALSE_AT(level, LogNames::Invoked::kReadFile,
                                         pw::Api().ReadFile(file.get(), &bytes[0] + done,
                                                            static_cast<DWORD>(bytes.size() - done), &got,
                                                            nullptr),
                                         "Cannot read %s", CNarrowText(path).c_str());
        done += got;
    } while (got != 0 && done < bytes.size());
    bytes.resize(done);
    return GLOBAL_SUCCESS;
}

// Why a file found beside the policy may not be trusted, or "" when it may: the first check that it
// fails. Any other name of the file may lead to a folder that someone else may change, and a link
// may lead anywhere.
std::string Distrust(const FoundFile& found)
{
    if (found.directory || found.reparsePoint)
    {
        return "it is a folder or a link, not a file";
    }
    if (found.links != 1)
    {
        return "it has " + std::to_string(found.links) +
               " hard links, so it may be changed under another name";
    }
    if (!found.trustedOwner)
    {
        return "it belongs to " + found.owner + ", not to " + kTrustedAccounts;
    }
    if (!found.changeableBy.empty())
    {
        return "it lets " + found.changeableBy + " change it";
    }
    return std::string();
}

// The path of an open file or folder once every link, junction and mount point on its way has been
// followed, with its drive letter. 0, or the error of the call.
DWORD FinalPath(const CUniqueFileHandle& handle, std::wstring& path)
{
    path.assign(UNICODE_STRING_MAX_CHARS + 1, L'\0');
    // The length without the terminator, or at least the buffer's size when the buffer is too small.
    const DWORD length = pw::Api().GetFinalPathNameByHandleW(
        handle.get(), &path[0], static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= path.size())
    {
        return length == 0 ? LastErrorOfFailure() : ERROR_INSUFFICIENT_BUFFER;
    }
    path.resize(length);
    return GLOBAL_SUCCESS;
}

// Why the file opened at path is not the one in the folder that was checked, or "" in reason when it
// is: its final path must be the final path of the last folder held followed by its name. Anything
// else (a folder on the way made a junction after the walk, say) is a link. 0, or the error of a
// final path that cannot be had, logged at level.
ResultCode Elsewhere(char level, const std::vector<CUniqueFileHandle>& folders, const CUniqueFileHandle& file,
                     const std::wstring& path, std::string& reason)
{
    std::wstring folderPath;
    std::wstring filePath;
    PW_RETURN_IF_FAILED_AT(level, LogNames::Invoked::kGetFinalPathNameByHandle,
                           folders.empty() ? ERROR_PATH_NOT_FOUND : FinalPath(folders.back(), folderPath),
                           "Cannot tell where the folder of %s lies", CNarrowText(path).c_str());
    PW_RETURN_IF_FAILED_AT(level, LogNames::Invoked::kGetFinalPathNameByHandle, FinalPath(file, filePath),
                           "Cannot tell where %s lies", CNarrowText(path).c_str());
    const std::wstring expected = folderPath + path.substr(path.find_last_of(L'\\'));
    // Names compare as the file system compares them, without regard to case.
    reason = ::CompareStringOrdinal(filePath.c_str(), -1, expected.c_str(), -1, TRUE) == CSTR_EQUAL
                 ? std::string()
                 : std::string("it is a link: it leads to ") + CNarrowText(filePath).c_str();
    return GLOBAL_SUCCESS;
}
} // namespace

ResultCode LocalPWPolicyReader::openTrustedPolicy(const std::wstring& path, const std::wstring& base,
                                                  const CTrustedIdentities& trusted, char level,
                                                  HeldPolicy& held)
{
    held = HeldPolicy();
    // A folder that someone else may change could be swapped for another between the check and the
    // parse: the file inside is then no more trusted than the folder. A refused folder has been
    // logged with its reason; a folder that cannot be opened at all is refused the same way.
    const ResultCode folders =
        CAtomicFileWriter::openDirectoryPath(kFunction, path, base, trusted, level, held.folders);
    if (folders == ERROR_PATH_NOT_FOUND)
    {
        return GLOBAL_SUCCESS;
    }
    if (folders == CFileSecurity::kUntrustedFolder)
    {
        PW_LOG_DEBUG(kFunction, level, "%s is not read: a folder on its way is not trusted",
                     CNarrowText(path).c_str());
        return kUntrustedPolicyFile;
    }
    PW_RETURN_IF_FAILED_LOGGED(folders);

    FoundFile found;
    CUniqueFileHandle file;
    // Another run may be replacing the file right now: look at it once it holds still.
    PW_RETURN_IF_FAILED(LogNames::Invoked::kCFileSecurityInspectFile,
                        RetryWhileFileInUse(
                            [&]() -> DWORD {
                                return CFileSecurity::InspectFile(kFunction, path, GENERIC_READ,
                                                                  FILE_SHARE_READ, trusted, found, file);
                            }),
                        "Cannot read %s", CNarrowText(path).c_str());
    std::string distrust = found.exists ? Distrust(found) : std::string();
    if (found.exists && distrust.empty())
    {
        PW_RETURN_IF_FAILED_LOGGED(Elsewhere('E', held.folders, file, path, distrust));
    }
    if (!distrust.empty())
    {
        PW_LOG_DEBUG(kFunction, level, "%s is not read: %s", CNarrowText(path).c_str(), distrust.c_str());
        return kUntrustedPolicyFile;
    }
    held.file = std::move(file);
    held.size = found.size;
    return GLOBAL_SUCCESS;
}

ResultCode LocalPWPolicyReader::readPolicy(const HeldPolicy& held, const std::wstring& path,
                                           std::string& bytes)
{
    return ReadWhole('E', held.file, held.size, path, bytes);
}

// The reader runs elevated, so a schema that anyone else could have put there or could change is not
// read. Without a schema the reader is given none at all.
bool LocalPWPolicyReader::readSchema(const HeldPolicy& held, const std::wstring& path,
                                     const CTrustedIdentities& trusted, std::string& bytes)
{
    FoundFile found;
    CUniqueFileHandle schema;
    if (PW_LOG_IF_FAILED_AT('W', LogNames::Invoked::kCFileSecurityInspectFile,
                            CFileSecurity::InspectFile(kFunction, path, GENERIC_READ, FILE_SHARE_READ,
                                                       trusted, found, schema),
                            "The policy is read without its schema") != GLOBAL_SUCCESS)
    {
        return false;
    }
    if (!found.exists)
    {
        return false;
    }
    std::string distrust = Distrust(found);
    if (distrust.empty() && Elsewhere('W', held.folders, schema, path, distrust) != GLOBAL_SUCCESS)
    {
        return false;
    }
    if (!distrust.empty())
    {
        PW_LOG_DEBUG(kFunction, 'W', "The policy is read without its schema: %s: %s",
                     CNarrowText(path).c_str(), distrust.c_str());
        return false;
    }
    return ReadWhole('W', schema, found.size, path, bytes) == GLOBAL_SUCCESS;
}
