#pragma once

// Reads one XML file with the platform's SAX reader and hands its elements, attributes and
// character data to a manager, in document order, by local name. When the MSXML 6.0 reader is
// available the document is validated against the schema it names; otherwise the MSXML 3.0
// reader parses it without validation, and with DTDs prohibited as MSXML 6.0 prohibits them. Each
// call enters a COM apartment and leaves it again.

#include <string>

#include "vpn/Common/Logging/ResultCodes.h"

class XmlMgr;

class XmlParser
{
public:
    // The manager is not owned and must outlive the parser; null is reported by invokeParser.
    // Without useSchemaLocation the reader neither loads the schema that the document names nor
    // validates, as when only the MSXML 3.0 reader is there.
    explicit XmlParser(XmlMgr* manager, bool useSchemaLocation = true);
    virtual ~XmlParser();
    XmlParser(const XmlParser&) = delete;
    XmlParser& operator=(const XmlParser&) = delete;

    // Parses the file at path, which the caller holds against writers until the call returns.
    // Returns 0 on success, GLOBAL_ERROR_UNEXPECTED on every failure.
    [[nodiscard]] ResultCode invokeParser(const std::wstring& path);

private:
    XmlMgr* m_manager;
    bool m_useSchemaLocation;
};
