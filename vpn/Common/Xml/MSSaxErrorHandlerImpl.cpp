#include "vpn/Common/Xml/MSSaxErrorHandlerImpl.h"

#include "vpn/Common/Logging/DiagnosticLog.h"

namespace
{
using LogNames::MSSaxErrorHandlerImpl::kFile;
namespace names = LogNames::MSSaxErrorHandlerImpl;

// Logs one report of the reader under the handler's method; the reader goes on either way.
HRESULT Report(const char* function, char level, const char* format, const wchar_t* message, HRESULT code)
{
    if (message != nullptr)
    {
        PW_LOG_RETURN_CODE(function, level, LogNames::Invoked::kISAXXMLReaderParse,
                           static_cast<ResultCode>(code), nullptr, format, message);
    }
    return S_OK;
}
} // namespace

HRESULT STDMETHODCALLTYPE MSSaxErrorHandlerImpl::error(ISAXLocator*, const wchar_t* message, HRESULT code)
{
    return Report(names::kError, 'W', "XML Parser error: %ls", message, code);
}

HRESULT STDMETHODCALLTYPE MSSaxErrorHandlerImpl::fatalError(ISAXLocator*, const wchar_t* message,
                                                            HRESULT code)
{
    return Report(names::kFatalError, 'E', "XML Parser fatal error: %ls", message, code);
}

HRESULT STDMETHODCALLTYPE MSSaxErrorHandlerImpl::ignorableWarning(ISAXLocator*, const wchar_t* message,
                                                                  HRESULT code)
{
    return Report(names::kIgnorableWarning, 'I', "XML Parser warning: %ls", message, code);
}
