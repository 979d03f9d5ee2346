#include "vpn/Common/Xml/XmlLocalPWPolMgr.h"

#include <cwctype>
#include <utility>

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Utility/InstanceSmartPtr.h"
#include "vpn/Common/Utility/StoragePath.h"
#include "vpn/Common/Utility/StringConvert.h"
#include "vpn/Common/Utility/Win/FileSecurity.h"
#include "vpn/Common/Utility/Win/TrustedIdentities.h"
#include "vpn/Common/Utility/Win/UniqueHandle.h"
#include "vpn/Common/Utility/sysutils.h"
#include "vpn/Common/Xml/AttributeList.h"
#include "vpn/Common/Xml/PWCSaxWriter.h"
#include "vpn/Common/Xml/XmlParser.h"

namespace
{
constexpr char kFile[] = "XmlLocalPWPolMgr";
constexpr char kGenerate[] = "XmlLocalPWPolMgr::GenerateLocalPolicy";

constexpr wchar_t kRootElement[] = L"PathweaveLocalPolicy";
constexpr wchar_t kVersionAttribute[] = L"pwversion";
constexpr wchar_t kSchemaFile[] = L"PathweaveLocalPolicy.xsd";
constexpr wchar_t kSchemaInstanceNamespace[] = L"http://www.w3.org/2001/XMLSchema-instance";
constexpr wchar_t kServerSeparators[] = L",;";

// The common application data folder that the policy directory lies in: the writer uses it as it
// is and secures only the product's folders below it. Empty when it cannot be told.
std::wstring DataFolderOf(const std::wstring& directory)
{
    CInstanceSmartPtr<CStoragePath> storagePath(CStoragePath::GetInstance());
    if (storagePath.get() == nullptr)
    {
        return std::wstring();
    }
    const std::wstring& relative = storagePath->GetRelativePath();
    if (directory.size() <= relative.size() ||
        directory.compare(directory.size() - relative.size(), relative.size(), relative) != 0)
    {
        return std::wstring();
    }
    return directory.substr(0, directory.size() - relative.size());
}

// True when the schema beside the policy may be handed to the reader, which runs elevated: an
// existing file that a trusted account owns and that is no link, then held in schema. A schema that
// is missing is not looked for; one that anyone else could have put there is not read.
bool MayUseSchema(const std::wstring& path, CUniqueFileHandle& schema)
{
    constexpr char kLoad[] = "XmlLocalPWPolMgr::loadLocalPolicy";
    CTrustedIdentities trusted;
    const ResultCode loaded = trusted.load();
    if (loaded != GLOBAL_SUCCESS)
    {
        PW_LOG_RETURN_CODE(kLoad, 'W', "CTrustedIdentities::load", loaded, nullptr,
                           "The policy is read without its schema");
        return false;
    }
    FoundFile found;
    if (CFileSecurity::InspectFile(kLoad, path, GENERIC_READ, FILE_SHARE_READ, trusted, found, schema) !=
        GLOBAL_SUCCESS)
    {
        PW_LOG_DEBUG(kLoad, 'W', "The policy is read without its schema");
        return false;
    }
    if (!found.exists)
    {
        return true;
    }
    if (found.reparsePoint || found.directory)
    {
        PW_LOG_DEBUG(kLoad, 'W', "The policy is read without its schema: %s is a link, not a file",
                     CNarrowText(path).c_str());
        return false;
    }
    if (!found.trustedOwner)
    {
        PW_LOG_DEBUG(kLoad, 'W',
                     "The policy is read without its schema: %s belongs to %s, not to SYSTEM, "
                     "Administrators, TrustedInstaller or the user running this tool",
                     CNarrowText(path).c_str(), found.owner.c_str());
        return false;
    }
    return true;
}

bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size())
    {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i)
    {
        if (std::towlower(a[i]) != std::towlower(b[i]))
        {
            return false;
        }
    }
    return true;
}

// True when a server list can be written so that it reads back unchanged: XML 1.0 text without
// carriage returns, which a reader turns into line feeds.
bool IsServerListText(const std::wstring& text)
{
    return PWCSaxWriter::isXmlText(text) && text.find(L'\r') == std::wstring::npos;
}

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

// The server names of a server list value, without empty names.
std::vector<std::wstring> SplitServers(const std::wstring& value)
{
    std::vector<std::wstring> names;
    size_t cursor = 0;
    while (cursor < value.size())
    {
        const size_t separator = value.find_first_of(kServerSeparators, cursor);
        const size_t end = separator == std::wstring::npos ? value.size() : separator;
        if (end > cursor)
        {
            names.push_back(value.substr(cursor, end - cursor));
        }
        cursor = separator == std::wstring::npos ? value.size() : separator + 1;
    }
    return names;
}
} // namespace

XmlLocalPWPolMgr::~XmlLocalPWPolMgr() = default;

std::wstring XmlLocalPWPolMgr::getLocalSecurityPolicyDir()
{
    CInstanceSmartPtr<CStoragePath> storagePath(CStoragePath::GetInstance());
    if (storagePath.get() == nullptr)
    {
        PW_LOG_RETURN_CODE("XmlLocalPWPolMgr::getLocalSecurityPolicyDir", 'E',
                           "CInstanceSmartPtr<StoragePath>", CSTORAGEPATH_ERROR_NO_INSTANCE, nullptr,
                           nullptr);
        return std::wstring();
    }
    return storagePath->GetMainPath();
}

bool XmlLocalPWPolMgr::localPolicyExists()
{
    // Without a policy directory there is no policy, whatever the current directory holds.
    const std::wstring directory = getLocalSecurityPolicyDir();
    return !directory.empty() && fileExists(directory + kPolicyFileName);
}

bool XmlLocalPWPolMgr::GenerateLocalPolicy(const wchar_t* const* args, int count)
{
    policyFileInUseBy.reset();
    PolicyValues top;
    PolicyValues update;
    if (!collectPolicyValues(args, count, top, update))
    {
        return false;
    }
    return writeLocalPolicy(top, update, &policyFileInUseBy);
}

bool XmlLocalPWPolMgr::collectPolicyValues(const wchar_t* const* args, int count, PolicyValues& top,
                                           PolicyValues& update) const
{
    if (args == nullptr || count < 0)
    {
        PW_LOG_DEBUG(kGenerate, 'E', "Invalid Arguments");
        return false;
    }

    for (int i = 0; i < count; ++i)
    {
        if (args[i] == nullptr)
        {
            continue;
        }
        const std::wstring argument = args[i];
        const size_t equals = argument.find(L'=');
        if (equals == std::wstring::npos)
        {
            PW_LOG_DEBUG(
                kGenerate, 'W',
                "ignoring invalid argument %s. Arguments in the form policy_abbreviation=value expected",
                CNarrowText(argument).c_str());
            continue;
        }
        const std::wstring abbreviation = argument.substr(0, equals);
        const std::wstring given = argument.substr(equals + 1);
        if (given.empty())
        {
            continue;
        }
        const auto& table = LocalPWPolicyTable::byAbbreviation();
        const auto definition = table.find(abbreviation);
        if (definition == table.end())
        {
            PW_LOG_DEBUG(kGenerate, 'W', "ignoring undefined abbreviation %s",
                         CNarrowText(abbreviation).c_str());
            continue;
        }
        const PolicyDefinition& policy = definition->second;

        // Free text must make a file that reads back to the same text; enumerated values do by
        // construction.
        bool allowed = policy.allowedValues.empty() && IsServerListText(given);
        std::wstring value = given;
        for (const std::wstring& candidate : policy.allowedValues)
        {
            if (EqualIgnoringCase(given, candidate))
            {
                value = candidate;
                allowed = true;
                break;
            }
        }
        if (!allowed)
        {
            PW_LOG_DEBUG(kGenerate, 'W', "%s is not an allowed value for policy %s",
                         CNarrowText(given).c_str(), CNarrowText(policy.policyName).c_str());
            continue;
        }

        PolicyValues& values = policy.updateGroup ? update : top;
        const auto stored = values.find(policy.policyName);
        if (stored != values.end() && !stored->second.empty())
        {
            PW_LOG_DEBUG(kGenerate, 'W', "ignoring duplicate policy arg %s. The first value will be used",
                         CNarrowText(policy.policyName).c_str());
            continue;
        }
        values[policy.policyName] = value;
    }
    return true;
}

bool XmlLocalPWPolMgr::writeLocalPolicy(const PolicyValues& top, const PolicyValues& update,
                                        std::optional<std::string>* inUseBy)
{
    const std::wstring directory = getLocalSecurityPolicyDir();
    PWCSaxWriter writer(directory, kPolicyFileName, kRootElement, DataFolderOf(directory));
    const ResultCode built = buildLocalPolicy(writer, top, update);
    if (built != GLOBAL_SUCCESS)
    {
        PW_LOG_RETURN_CODE("XmlLocalPWPolMgr::writeLocalPolicy", 'E', "XmlLocalPWPolMgr::buildLocalPolicy",
                           built, nullptr, nullptr);
        return false;
    }
    const ResultCode result = writer.writeDocument();
    if (result != GLOBAL_SUCCESS)
    {
        PW_LOG_RETURN_CODE("XmlLocalPWPolMgr::writeLocalPolicy", 'E', "PWCSaxWriter::writeDocument", result,
                           nullptr, nullptr);
        if (inUseBy != nullptr)
        {
            *inUseBy = writer.targetInUseBy();
        }
        return false;
    }
    return true;
}

ResultCode XmlLocalPWPolMgr::buildLocalPolicy(SaxWriterIfc& writer, const PolicyValues& top,
                                              const PolicyValues& update)
{
    AttributeList attributes;
    attributes.add(L"xmlns", kPolicyNamespace);
    attributes.add(L"xmlns:xsi", kSchemaInstanceNamespace);
    attributes.add(L"xsi:schemaLocation", std::wstring(kPolicyNamespace) + L" " + kSchemaFile);
    attributes.add(kVersionAttribute, kCurrentVersion);

    // Only a text that XML cannot carry fails (the argument rules refuse such values first); the
    // first failure is kept.
    ResultCode built = GLOBAL_SUCCESS;
    const auto keep = [&built](ResultCode code)
    {
        if (built == GLOBAL_SUCCESS)
        {
            built = code;
        }
    };
    const auto element = [&writer, &keep](const std::wstring& name, const std::wstring& text)
    {
        keep(writer.startElement(name, nullptr));
        keep(writer.characters(text));
        keep(writer.endElement(name));
    };
    keep(writer.startDocument(&attributes));
    for (const auto& entry : top)
    {
        element(entry.first, entry.second);
    }
    if (!update.empty())
    {
        keep(writer.startElement(kUpdatePolicyElement, nullptr));
        for (const auto& entry : update)
        {
            if (entry.first != kAuthorizedServerListElement)
            {
                element(entry.first, entry.second);
                continue;
            }
            keep(writer.startElement(entry.first, nullptr));
            for (const std::wstring& server : SplitServers(entry.second))
            {
                element(kServerNameElement, server);
            }
            keep(writer.endElement(entry.first));
        }
        keep(writer.endElement(kUpdatePolicyElement));
    }
    keep(writer.endDocument());
    return built;
}

ResultCode XmlLocalPWPolMgr::loadLocalPolicy()
{
    policyInfo.reset();
    // Nothing of a parse that stopped part-way carries over.
    openElements.clear();
    inAuthorizedServerList = false;
    inUpdatePolicy = false;
    if (!localPolicyExists())
    {
        return 0;
    }
    const std::wstring directory = getLocalSecurityPolicyDir();
    // Held against writers until the parse is done, so that the schema checked is the one read.
    CUniqueFileHandle schema;
    XmlParser parser(this, MayUseSchema(directory + kSchemaFile, schema));
    return parser.invokeParser(directory + kPolicyFileName);
}

LocalPWPolicyInfo XmlLocalPWPolMgr::getLocalPolicyInfo() const
{
    return LocalPWPolicyInfo(policyInfo);
}

void XmlLocalPWPolMgr::startElement(const std::wstring& name)
{
    // A child's text is its own: the text of the element around it goes on after the child's end.
    OpenElement element;
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

void XmlLocalPWPolMgr::endElement(const std::wstring& name)
{
    if (!openElements.empty())
    {
        const OpenElement element = std::move(openElements.back());
        openElements.pop_back();
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

void XmlLocalPWPolMgr::setElementValue(const std::wstring& text)
{
    // The reader may deliver one element's text in several pieces (around entity references,
    // CDATA sections, non-ASCII characters or child elements); the value is the whole text, taken
    // at the end tag.
    if (!openElements.empty() && !openElements.back().name.empty())
    {
        openElements.back().text += text;
    }
}

void XmlLocalPWPolMgr::applyElementValue(const OpenElement& element)
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
        PW_LOG_DEBUG("XmlLocalPWPolMgr::setElementValue", 'W', "Local Policy XML structure is incorrect.");
        return;
    }
    policy->store(element.text, policyInfo);
}

void XmlLocalPWPolMgr::addAttribute(const std::wstring& name, const std::wstring& value)
{
    if (openElements.empty() || openElements.back().name != kRootElement || name != kVersionAttribute)
    {
        return;
    }
    policyInfo.setVersion(value);
    if (CompareVersions(value, kCurrentVersion) > 0)
    {
        PW_LOG_DEBUG(
            "XmlLocalPWPolMgr::addAttribute", 'W',
            "The parsed Local Security Policy File version is newer than the current Pathweave Client. "
            "Unexpected behaviors can result.");
    }
}
