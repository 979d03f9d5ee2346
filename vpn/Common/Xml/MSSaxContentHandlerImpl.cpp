#include "vpn/Common/Xml/MSSaxContentHandlerImpl.h"

#include "vpn/Common/Xml/SaxIdentifiers.h"

HRESULT STDMETHODCALLTYPE MSSaxContentHandlerImpl::QueryInterface(REFIID riid, void** object)
{
    if (object == nullptr)
    {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, kIID_ISAXContentHandler))
    {
        AddRef();
        *object = static_cast<ISAXContentHandler*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE MSSaxContentHandlerImpl::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
}

ULONG STDMETHODCALLTYPE MSSaxContentHandlerImpl::Release()
{
    const LONG count = InterlockedDecrement(&m_refCount);
    if (count == 0)
    {
        delete this;
    }
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE MSSaxContentHandlerImpl::putDocumentLocator(ISAXLocator*)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MSSaxContentHandlerImpl::startDocument()
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MSSaxContentHandlerImpl::endDocument()
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MSSaxContentHandlerImpl::startPrefixMapping(const wchar_t*, int, const wchar_t*,
                                                                      int)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MSSaxContentHandlerImpl::endPrefixMapping(const wchar_t*, int)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MSSaxContentHandlerImpl::startElement(const wchar_t*, int, const wchar_t*, int,
                                                                const wchar_t*, int, ISAXAttributes*)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MSSaxContentHandlerImpl::endElement(const wchar_t*, int, const wchar_t*, int,
                                                              const wchar_t*, int)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MSSaxContentHandlerImpl::characters(const wchar_t*, int)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MSSaxContentHandlerImpl::ignorableWhitespace(const wchar_t*, int)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MSSaxContentHandlerImpl::processingInstruction(const wchar_t*, int, const wchar_t*,
                                                                         int)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MSSaxContentHandlerImpl::skippedEntity(const wchar_t*, int)
{
    return S_OK;
}
