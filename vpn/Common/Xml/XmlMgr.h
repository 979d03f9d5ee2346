#pragma once

#include <string>

// The callbacks through which the XML reader hands a parsed document to its manager, in document
// order. Names are local names (without namespace prefix).
class XmlMgr
{
public:
    virtual ~XmlMgr() = default;
    // An element has started; its attributes follow through addAttribute.
    virtual void startElement(const std::wstring& name) = 0;
    virtual void endElement(const std::wstring& name) = 0;
    // One run of character data; the text of one element may arrive in several runs.
    virtual void setElementValue(const std::wstring& text) = 0;
    // One attribute of the element whose startElement came last.
    virtual void addAttribute(const std::wstring& name, const std::wstring& value) = 0;
};
