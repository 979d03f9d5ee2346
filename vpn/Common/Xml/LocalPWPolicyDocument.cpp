#include "vpn/Common/Xml/LocalPWPolicyDocument.h"

#include <vector>

#include "vpn/Common/Xml/AttributeList.h"
#include "vpn/Common/Xml/LocalPWPolicyTable.h"

using namespace LocalPWPolicyFormat;

namespace
{
constexpr wchar_t kServerSeparators[] = L",;";

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

ResultCode LocalPWPolicyDocument::build(SaxWriterIfc& writer, const PolicyValues& top,
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
