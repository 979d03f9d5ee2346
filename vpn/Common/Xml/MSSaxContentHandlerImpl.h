#pragma once

// A content handler for the platform's SAX reader that accepts every event and does nothing with
// it; derived classes override the events they need. Create it with MakeComObject.

#include <windows.h>

#include <msxml2.h>

#include "vpn/Common/Platform/ComObject.h"
#include "vpn/Common/Xml/SaxIdentifiers.h"

class MSSaxContentHandlerImpl : public ComObject<ISAXContentHandler, kIID_ISAXContentHandler>
{
public:
    HRESULT STDMETHODCALLTYPE putDocumentLocator(ISAXLocator* locator) override;
    HRESULT STDMETHODCALLTYPE startDocument() override;
    HRESULT STDMETHODCALLTYPE endDocument() override;
    HRESULT STDMETHODCALLTYPE startPrefixMapping(const wchar_t* prefix, int prefixLength, const wchar_t* uri,
                                                 int uriLength) override;
    HRESULT STDMETHODCALLTYPE endPrefixMapping(const wchar_t* prefix, int prefixLength) override;
    HRESULT STDMETHODCALLTYPE startElement(const wchar_t* namespaceUri, int namespaceUriLength,
                                           const wchar_t* localName, int localNameLength,
                                           const wchar_t* qName, int qNameLength,
                                           ISAXAttributes* attributes) override;
    HRESULT STDMETHODCALLTYPE endElement(const wchar_t* namespaceUri, int namespaceUriLength,
                                         const wchar_t* localName, int localNameLength, const wchar_t* qName,
                                         int qNameLength) override;
    HRESULT STDMETHODCALLTYPE characters(const wchar_t* chars, int length) override;
    HRESULT STDMETHODCALLTYPE ignorableWhitespace(const wchar_t* chars, int length) override;
    HRESULT STDMETHODCALLTYPE processingInstruction(const wchar_t* target, int targetLength,
                                                    const wchar_t* data, int dataLength) override;
    HRESULT STDMETHODCALLTYPE skippedEntity(const wchar_t* name, int nameLength) override;

protected:
    ~MSSaxContentHandlerImpl() override = default;
};
