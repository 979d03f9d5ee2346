#pragma once

// A content handler for the platform's SAX reader that accepts every event and does nothing with
// it; derived classes override the events they need. The object counts its references atomically,
// starts at 0 and deletes itself when the count returns to 0, so it must live on the heap.

#include <windows.h>
#include <msxml2.h>

class MSSaxContentHandlerImpl : public ISAXContentHandler
{
public:
    MSSaxContentHandlerImpl() = default;
    MSSaxContentHandlerImpl(const MSSaxContentHandlerImpl&) = delete;
    MSSaxContentHandlerImpl& operator=(const MSSaxContentHandlerImpl&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

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
    // Only Release destroys the object.
    virtual ~MSSaxContentHandlerImpl() = default;

private:
    volatile LONG m_refCount = 0;
};
