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
        LogReturnCode("MSSaxErrorHandlerImpl::error", kFile, __LINE__, 'W', kParse,
                      static_cast<ResultCode>(code), nullptr, "XML Parser error: %ls", message);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MSSaxErrorHandlerImpl::fatalError(ISAXLocator*, const wchar_t* message,
                                                            HRESULT code)
{
    if (message != nullptr)
    {
        LogReturnCode("MSSaxErrorHandlerImpl::fatalError", kFile, __LINE__, 'E', kParse,
                      static_cast<ResultCode>(code), nullptr, "XML Parser fatal error: %ls", message);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MSSaxErrorHandlerImpl::ignorableWarning(ISAXLocator*, const wchar_t* message,
                                                                  HRESULT code)
{
    if (message != nullptr)
    {
        LogReturnCode("MSSaxErrorHandlerImpl::ignorableWarning", kFile, __LINE__, 'I', kParse,
                      static_cast<ResultCode>(code), nullptr, "XML Parser warning: %ls", message);
    }
    return S_OK;
}
