#include "vpn/Common/Xml/MSSaxErrorHandlerImpl.h"

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Xml/SaxIdentifiers.h"

namespace
{
constexpr char kFile[] = "MSSaxErrorHandlerImpl";
constexpr char kParse[] = "ISAXXMLReader::parse";
} // namespace

HRESULT STDMETHODCALLTYPE MSSaxErrorHandlerImpl::QueryInterface(REFIID riid, void** object)
{
    if (object == nullptr)
    {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, kIID_ISAXErrorHandler))
    {
        AddRef();
        *object = static_cast<ISAXErrorHandler*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE MSSaxErrorHandlerImpl::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
}

ULONG STDMETHODCALLTYPE MSSaxErrorHandlerImpl::Release()
{
    const LONG count = InterlockedDecrement(&m_refCount);
    if (count == 0)
    {
        delete this;
    }
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE MSSaxErrorHandlerImpl::error(ISAXLocator*, const wchar_t* message, HRESULT code)
{
    if (message != nullptr)
    {
        PW_LOG_RETURN_CODE("MSSaxErrorHandlerImpl::error", 'W', kParse, static_cast<ResultCode>(code),
                           nullptr, "XML Parser error: %ls", message);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MSSaxErrorHandlerImpl::fatalError(ISAXLocator*, const wchar_t* message,
                                                            HRESULT code)
{
    if (message != nullptr)
    {
        PW_LOG_RETURN_CODE("MSSaxErrorHandlerImpl::fatalError", 'E', kParse, static_cast<ResultCode>(code),
                           nullptr, "XML Parser fatal error: %ls", message);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MSSaxErrorHandlerImpl::ignorableWarning(ISAXLocator*, const wchar_t* message,
                                                                  HRESULT code)
{
    if (message != nullptr)
    {
        PW_LOG_RETURN_CODE("MSSaxErrorHandlerImpl::ignorableWarning", 'I', kParse,
                           static_cast<ResultCode>(code), nullptr, "XML Parser warning: %ls", message);
    }
    return S_OK;
}
