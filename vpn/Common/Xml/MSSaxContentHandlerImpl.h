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
    // The parameters are unnamed: no event reads them.
    HRESULT STDMETHODCALLTYPE putDocumentLocator(ISAXLocator*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE startDocument() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE endDocument() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE startPrefixMapping(const wchar_t*, int, const wchar_t*, int) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE endPrefixMapping(const wchar_t*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE startElement(const wchar_t*, int, const wchar_t*, int, const wchar_t*, int,
                                           ISAXAttributes*) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE endElement(const wchar_t*, int, const wchar_t*, int, const wchar_t*,
                                         int) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE characters(const wchar_t*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ignorableWhitespace(const wchar_t*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE processingInstruction(const wchar_t*, int, const wchar_t*, int) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE skippedEntity(const wchar_t*, int) override { return S_OK; }

protected:
    ~MSSaxContentHandlerImpl() override = default;
};
