#pragma once

// The error handler of XmlParser: logs every problem that the platform's SAX reader reports
// (errors as warnings, fatal errors as errors, warnings as information) and asks the reader to go
// on; the result of the parse decides whether the read failed. Create it with MakeComObject.

#include <windows.h>

#include <msxml2.h>

#include "vpn/Common/Platform/ComObject.h"
#include "vpn/Common/Xml/SaxIdentifiers.h"

class MSSaxErrorHandlerImpl : public ComObject<ISAXErrorHandler, kIID_ISAXErrorHandler>
{
public:
    HRESULT STDMETHODCALLTYPE error(ISAXLocator* locator, const wchar_t* message, HRESULT code) override;
    HRESULT STDMETHODCALLTYPE fatalError(ISAXLocator* locator, const wchar_t* message, HRESULT code) override;
    HRESULT STDMETHODCALLTYPE ignorableWarning(ISAXLocator* locator, const wchar_t* message,
                                               HRESULT code) override;

protected:
    ~MSSaxErrorHandlerImpl() override = default;
};
