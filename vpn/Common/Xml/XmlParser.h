#pragma once

// Reads one XML document with the platform's SAX reader and hands its elements, attributes and
// character data to a manager, in document order, by local name. The document is parsed from the
// bytes that the caller read through the handle that it checked, never from a path or a URL, and
// nothing that the document names is loaded. When the MSXML 6.0 reader is available and the caller
// gives a schema (the bytes of a checked file), the document is validated against that schema alone;
// otherwise the MSXML 3.0 reader parses it without validation, with DTDs prohibited as MSXML 6.0
// prohibits them. Each call enters a COM apartment and leaves it again.

#include <string>

#include "vpn/Common/Logging/ResultCodes.h"

class XmlMgr;

class XmlParser
{
public:
    // The manager is not owned and must outlive the parser; null is reported by invokeParser.
    explicit XmlParser(XmlMgr* manager);
    virtual ~XmlParser();
    XmlParser(const XmlParser&) = delete;
    XmlParser& operator=(const XmlParser&) = delete;

    // Parses document; with schema, validates it against that schema for the namespace
    // schemaNamespace. A schema that the reader cannot be given is one warning, and the document is
    // then read without validation. Returns 0 on success, GLOBAL_ERROR_UNEXPECTED on every failure.
    [[nodiscard]] ResultCode invokeParser(const std::string& document, const std::string* schema = nullptr,
                                          const wchar_t* schemaNamespace = L"");

private:
    XmlMgr* m_manager;
};
