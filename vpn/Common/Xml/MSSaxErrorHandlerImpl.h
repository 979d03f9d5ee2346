#pragma once

// The error handler of XmlParser: logs every problem that the platform's SAX reader reports
// (errors as warnings, fatal errors as errors, warnings as information) and asks the reader to go
// on; the result of the parse decides whether the read failed. The object counts its references
// atomically, starts at 0 and deletes itself when the count returns to 0, so it must live on the heap.

#include <windows.h>
#include <msxml2.h>

class MSSaxErrorHandlerImpl : public ISAXErrorHandler
{
public:
    MSSaxErrorHandlerImpl() = default;
    MSSaxErrorHandlerImpl(const MSSaxErrorHandlerImpl&) = delete;
    MSSaxErrorHandlerImpl& operator=(const MSSaxErrorHandlerImpl&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE error(ISAXLocator* locator, const wchar_t* message, HRESULT code) override;
    HRESULT STDMETHODCALLTYPE fatalError(ISAXLocator* locator, const wchar_t* message, HRESULT code) override;
    HRESULT STDMETHODCALLTYPE ignorableWarning(ISAXLocator* locator, const wchar_t* message,
                                               HRESULT code) override;

protected:
    // Only Release destroys the object.
    virtual ~MSSaxErrorHandlerImpl() = default;

private:
    volatile LONG m_refCount = 0;
};
