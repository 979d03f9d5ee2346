#pragma once

// The content handler of XmlParser: forwards element starts with their attributes, character data
// and element ends to the manager, by local name. An element whose local name begins with "qu"
// is forwarded and then stops the parse. The manager is not owned and must outlive the handler.

#include "vpn/Common/Xml/MSSaxContentHandlerImpl.h"

class XmlMgr;

class PWCMSSaxParser : public MSSaxContentHandlerImpl
{
public:
    explicit PWCMSSaxParser(XmlMgr* manager);

    HRESULT STDMETHODCALLTYPE startElement(const wchar_t* namespaceUri, int namespaceUriLength,
                                           const wchar_t* localName, int localNameLength,
                                           const wchar_t* qName, int qNameLength,
                                           ISAXAttributes* attributes) override;
    HRESULT STDMETHODCALLTYPE endElement(const wchar_t* namespaceUri, int namespaceUriLength,
                                         const wchar_t* localName, int localNameLength, const wchar_t* qName,
                                         int qNameLength) override;
    HRESULT STDMETHODCALLTYPE characters(const wchar_t* chars, int length) override;

protected:
    ~PWCMSSaxParser() override = default;

private:
    XmlMgr* m_manager;
};
