#pragma once

// The read-back of the policy file: what the manager's reader callbacks do. Keeps which element is
// open and whether it lies in the update group or its server list, and stores each recognised
// element's whole text, taken at its end tag, into a record.

#include <string>
#include <vector>

#include "vpn/Common/Platform/UniqueHandle.h"
#include "vpn/Common/Xml/LocalPWPolicyInfo.h"

class LocalPWPolicyReader
{
public:
    // The record is not owned and must outlive the reader.
    explicit LocalPWPolicyReader(LocalPWPolicyInfo& record) : record(record) {}

    // Forgets every open element, as before a new parse.
    void reset();
    void startElement(const std::wstring& name);
    void endElement(const std::wstring& name);
    // One piece of the current element's character data.
    void characters(const std::wstring& text);
    // An attribute of the element that started last.
    void attribute(const std::wstring& name, const std::wstring& value);

    // True when the schema at path may be handed to the reader, which runs elevated: a missing
    // schema, or a file that a trusted account owns and that is no link, which is then held in
    // schema against writers. Anything else is logged as a warning.
    static bool mayUseSchema(const std::wstring& path, CUniqueFileHandle& schema);

private:
    // An element between its start and end tags: the name that its text is read as (empty when its
    // text counts for nothing) and its own text received so far, before and after its children.
    struct OpenElement
    {
        std::wstring name;
        std::wstring text;
    };

    // Stores the whole text of an element that has ended into the record.
    void applyElementValue(const OpenElement& element);

    LocalPWPolicyInfo& record;
    // The elements from the root to the current one.
    std::vector<OpenElement> openElements;
    bool inAuthorizedServerList = false;
    bool inUpdatePolicy = false;
};
