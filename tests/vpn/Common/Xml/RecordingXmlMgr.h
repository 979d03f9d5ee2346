#pragma once

#include <string>
#include <vector>

#include "vpn/Common/Xml/XmlMgr.h"

// Records every callback of the XML reader in order: "start <name>", "attr <name>=<value>",
// "text <text>", "end <name>".
class RecordingXmlMgr : public XmlMgr
{
public:
    void startElement(const std::wstring& name) override { events.push_back(L"start " + name); }
    void endElement(const std::wstring& name) override { events.push_back(L"end " + name); }
    void setElementValue(const std::wstring& text) override { events.push_back(L"text " + text); }
    void addAttribute(const std::wstring& name, const std::wstring& value) override
    {
        events.push_back(L"attr " + name + L"=" + value);
    }

    // The events with adjacent text runs joined (readers may split one element's text) and
    // without attributes whose local name is empty (namespace declarations, which some readers
    // report as attributes).
    std::vector<std::wstring> normalized() const
    {
        std::vector<std::wstring> result;
        for (const std::wstring& event : events)
        {
            if (event.compare(0, 6, L"attr =") == 0)
            {
                continue;
            }
            if (event.compare(0, 5, L"text ") == 0 && !result.empty() &&
                result.back().compare(0, 5, L"text ") == 0)
            {
                result.back() += event.substr(5);
                continue;
            }
            result.push_back(event);
        }
        return result;
    }

    std::vector<std::wstring> events;
};
