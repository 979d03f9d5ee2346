#pragma once

// Reads one XML file with the platform's SAX reader and hands its elements, attributes and
// character data to a manager, in document order, by local name. When the MSXML 6.0 reader is
// available the document is validated against the schema it names; otherwise the MSXML 3.0
// reader parses it without validation. Each call enters a COM apartment and leaves it again.

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

    // Parses the file at path, holding it against writers until the parse is done; a file that is
    // being replaced is waited for about a second. Returns 0 on success, GLOBAL_ERROR_UNEXPECTED on
    // every failure.
    [[nodiscard]] ResultCode invokeParser(const std::wstring& path);

private:
    XmlMgr* m_manager;
    bool m_useSchemaLocation;
};
