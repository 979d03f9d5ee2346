#include "vpn/Common/Xml/XmlParser.h"

#include <windows.h>

#include <msxml2.h>

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Platform/ComObject.h"
#include "vpn/Common/Platform/PlatformApi.h"
#include "vpn/Common/Xml/MSSaxErrorHandlerImpl.h"
#include "vpn/Common/Xml/PWCMSSaxParser.h"
#include "vpn/Common/Xml/SaxIdentifiers.h"

namespace
{
using LogNames::XmlParser::kFile;
namespace names = LogNames::XmlParser;
constexpr const char* kFunction = names::kInvokeParser;

// MSXML reports a document that fails its schema with this code; the problems themselves have
// already reached the error handler, so the read still counts as done.
constexpr HRESULT kSchemaValidationResult = static_cast<HRESULT>(0xC00CE225);

// Leaves the COM apartment that a successful CoInitializeEx entered.
class CComApartment
{
public:
    CComApartment() = default;
    ~CComApartment() { pw::Api().CoUninitialize(); }
    CComApartment(const CComApartment&) = delete;
    CComApartment& operator=(const CComApartment&) = delete;
};

struct SchemaFeature
{
    const wchar_t* name;
    const char* failureText;
};

constexpr SchemaFeature kSchemaFeatures[] = {
    {L"use-schema-location", "Couldn't enable use of schema location"},
    {L"exhaustive-errors", "Couldn't enable exhaustive errors"},
    {L"schema-validation", "Couldn't enable schema validation"},
};

// S_OK with the reader, or the failure of CoCreateInstance (E_NOINTERFACE for a success without a
// reader), logged.
HRESULT CreateReader(const CLSID& readerClass, CComHolder<ISAXXMLReader>& reader)
{
    const HRESULT hr =
        pw::Api().CoCreateInstance(readerClass, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                   kIID_ISAXXMLReader, reinterpret_cast<void**>(reader.put()));
    if (FAILED(hr) || !reader)
    {
        PW_LOG_RETURN_CODE(kFunction, 'E', LogNames::Invoked::kISAXXMLReaderCoCreateInstance,
                           static_cast<ResultCode>(hr), nullptr, "Couldn't initialize SAX Reader");
        return FAILED(hr) ? hr : E_NOINTERFACE;
    }
    return S_OK;
}

} // namespace

XmlParser::XmlParser(XmlMgr* manager, bool useSchemaLocation)
    : m_manager(manager), m_useSchemaLocation(useSchemaLocation)
{
}

XmlParser::~XmlParser() = default;

ResultCode XmlParser::invokeParser(const std::wstring& path)
{
    // Every failure of the read gives the same code; its cause is in the log.
    constexpr ResultCode kFailed = GLOBAL_ERROR_UNEXPECTED;
    if (m_manager == nullptr)
    {
        PW_LOG_DEBUG(kFunction, 'E', "XML Manager not provided");
        return kFailed;
    }

    HRESULT hr = pw::Api().CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE);
    if (hr == RPC_E_CHANGED_MODE)
    {
        // The thread already lives in a single-threaded apartment: join it.
        hr = pw::Api().CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    }
    if (FAILED(PW_LOG_IF_FAILED_HRESULT(LogNames::Invoked::kCoInitializeEx, hr, nullptr)))
    {
        return kFailed;
    }
    // Declared before every COM pointer so that the apartment is left after they are released.
    const CComApartment apartment;

    CComHolder<ISAXXMLReader> reader;
    const bool validating = SUCCEEDED(CreateReader(kCLSID_SAXXMLReader60, reader));
    if (!validating)
    {
        (void)CreateReader(kCLSID_SAXXMLReader, reader);
    }

    // Destroyed in reverse order: the content handler, the error handler, then the reader.
    const CComHolder<MSSaxErrorHandlerImpl> errorHandler = MakeComObject<MSSaxErrorHandlerImpl>();
    const CComHolder<PWCMSSaxParser> contentHandler = MakeComObject<PWCMSSaxParser>(m_manager);

    if (!reader)
    {
        return kFailed;
    }

    if (FAILED(PW_LOG_IF_FAILED_HRESULT(LogNames::Invoked::kISAXXMLReaderPutContentHandler,
                                        reader->putContentHandler(contentHandler.get()),
                                        "Error configuring content handler")) ||
        FAILED(PW_LOG_IF_FAILED_HRESULT(LogNames::Invoked::kISAXXMLReaderPutErrorHandler,
                                        reader->putErrorHandler(errorHandler.get()),
                                        "Error configuring error handler")))
    {
        return kFailed;
    }
    // MSXML 6.0 prohibits a DTD by default; the 3.0 reader must be told to, or a DTD in the file could
    // have the elevated reader expand entities without end.
    if (!validating && FAILED(PW_LOG_IF_FAILED_HRESULT(LogNames::Invoked::kISAXXMLReaderPutFeature,
                                                       reader->putFeature(L"prohibit-dtd", VARIANT_TRUE),
                                                       "Couldn't prohibit DTDs")))
    {
        return kFailed;
    }
    if (validating && m_useSchemaLocation)
    {
        for (const SchemaFeature& feature : kSchemaFeatures)
        {
            (void)PW_LOG_IF_FAILED_HRESULT_AT('W', LogNames::Invoked::kISAXXMLReaderPutFeature,
                                              reader->putFeature(feature.name, VARIANT_TRUE), "%s",
                                              feature.failureText);
        }
    }

    // The caller holds the file and its folders against writers until the parse is done.
    hr = reader->parseURL(path.c_str());
    if (SUCCEEDED(hr) || hr == kSchemaValidationResult)
    {
        return GLOBAL_SUCCESS;
    }
    (void)PW_LOG_IF_FAILED_HRESULT(LogNames::Invoked::kISAXXMLReaderParse, hr, nullptr);
    return kFailed;
}
