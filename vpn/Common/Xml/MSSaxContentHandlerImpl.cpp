#include "vpn/Common/Xml/MSSaxContentHandlerImpl.h"

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
