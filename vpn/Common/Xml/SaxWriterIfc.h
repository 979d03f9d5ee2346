#pragma once

// Builds one XML document through SAX-style calls and stores it. Each building call appends a
// fixed piece of text; the caller alone decides the structure. An absent attribute list (null)
// means no attributes.

#include <string>

#include "vpn/Common/Logging/ResultCodes.h"
#include "vpn/Common/Xml/AttributeList.h"

class SaxWriterIfc
{
public:
    virtual ~SaxWriterIfc() = default;

    [[nodiscard]] virtual ResultCode startDocument(const AttributeList* attributes) = 0;
    [[nodiscard]] virtual ResultCode startElement(const std::wstring& name,
                                                  const AttributeList* attributes) = 0;
    [[nodiscard]] virtual ResultCode characters(const std::wstring& text) = 0;
    [[nodiscard]] virtual ResultCode endElement(const std::wstring& name) = 0;
    [[nodiscard]] virtual ResultCode endDocument() = 0;
    [[nodiscard]] virtual ResultCode writeDocument() = 0;
    virtual std::wstring getDocument() const = 0;
};
