#include "vpn/Common/Xml/MSSaxErrorHandlerImpl.h"

#include "vpn/Common/Logging/DiagnosticLog.h"

namespace
{
constexpr char kFile[] = "MSSaxErrorHandlerImpl";
constexpr char kParse[] = "ISAXXMLReader::parse";
} // namespace

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
