#include "vpn/Common/Xml/MSSaxErrorHandlerImpl.h"

#include "vpn/Common/Logging/DiagnosticLog.h"

namespace
{
using LogNames::MSSaxErrorHandlerImpl::kFile;
namespace names = LogNames::MSSaxErrorHandlerImpl;
constexpr const char* kParse = LogNames::Invoked::kISAXXMLReaderParse;
} // namespace

HRESULT STDMETHODCALLTYPE MSSaxErrorHandlerImpl::error(ISAXLocator*, const wchar_t* message, HRESULT code)
{
    if (message != nullptr)
    {
        PW_LOG_RETURN_CODE(names::kError, 'W', kParse, static_cast<ResultCode>(code), nullptr,
                           "XML Parser error: %ls", message);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MSSaxErrorHandlerImpl::fatalError(ISAXLocator*, const wchar_t* message,
                                                            HRESULT code)
{
    if (message != nullptr)
    {
        PW_LOG_RETURN_CODE(names::kFatalError, 'E', kParse, static_cast<ResultCode>(code), nullptr,
                           "XML Parser fatal error: %ls", message);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MSSaxErrorHandlerImpl::ignorableWarning(ISAXLocator*, const wchar_t* message,
                                                                  HRESULT code)
{
    if (message != nullptr)
    {
        PW_LOG_RETURN_CODE(names::kIgnorableWarning, 'I', kParse, static_cast<ResultCode>(code), nullptr,
                           "XML Parser warning: %ls", message);
    }
    return S_OK;
}
