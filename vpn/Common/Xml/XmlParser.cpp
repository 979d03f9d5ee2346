#include "vpn/Common/Xml/XmlParser.h"

#include <windows.h>

#include <msxml2.h>

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Platform/ComObject.h"
#include "vpn/Common/Platform/PlatformApi.h"
#include "vpn/Common/Platform/StringConvert.h"
#include "vpn/Common/Platform/UniqueHandle.h"
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

// A stream over a copy of bytes, at its start; null after logging when it cannot be made.
CComHolder<IStream> MemoryStream(char level, const std::string& bytes, const char* what)
{
    CComHolder<IStream> stream;
    if (FAILED(PW_LOG_IF_FAILED_HRESULT_AT(level, LogNames::Invoked::kCreateStreamOnHGlobal,
                                           pw::Api().CreateStreamOnHGlobal(nullptr, TRUE, stream.put()), "%s",
                                           what)))
    {
        return CComHolder<IStream>();
    }
    ULONG written = 0;
    const HRESULT hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    if (FAILED(PW_LOG_IF_FAILED_HRESULT_AT(level, LogNames::Invoked::kIStreamWrite,
                                           SUCCEEDED(hr) && written != bytes.size() ? STG_E_MEDIUMFULL : hr,
                                           "%s", what)) ||
        FAILED(PW_LOG_IF_FAILED_HRESULT_AT(level, LogNames::Invoked::kIStreamSeek,
                                           stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr), "%s",
                                           what)))
    {
        return CComHolder<IStream>();
    }
    return stream;
}

VARIANT ObjectVariant(IUnknown* object, VARTYPE type)
{
    VARIANT value = {};
    value.vt = type;
    value.punkVal = object;
    return value;
}

// Hands the reader the schema through a schema cache, so that only this schema validates the
// document and the schema location that the document names is never followed. The schema is loaded
// from its bytes with DTDs prohibited and neither validated nor resolved against anything outside it,
// and is used only when it names no other schema (the cache would load that from wherever it lies)
// and is for the policy's own namespace (one for another would validate nothing and say nothing). A
// schema that is not used, or a step that fails, is one warning, and the reader then parses without
// validation.
void UseSchema(ISAXXMLReader& reader, const std::string& schema, const wchar_t* schemaNamespace)
{
    constexpr char kWithout[] = "The policy is read without its schema";
    // Every step names what failed; the line is the same for all.
    const auto failed = [&kWithout](const char* invoked, HRESULT hr)
    { return FAILED(PW_LOG_IF_FAILED_HRESULT_AT('W', invoked, hr, kWithout)); };

    CComHolder<IXMLDOMDocument2> document;
    if (failed(LogNames::Invoked::kIXMLDOMDocument2CoCreateInstance,
               pw::Api().CoCreateInstance(kCLSID_DOMDocument60, nullptr, CLSCTX_INPROC_SERVER,
                                          kIID_IXMLDOMDocument2, reinterpret_cast<void**>(document.put()))))
    {
        return;
    }
    const CUniqueBstr prohibitDtd(pw::Api().SysAllocString(L"ProhibitDTD"));
    const CUniqueBstr selectionNamespaces(pw::Api().SysAllocString(L"SelectionNamespaces"));
    const CUniqueBstr schemaPrefix(pw::Api().SysAllocString(L"xmlns:xs='http://www.w3.org/2001/XMLSchema'"));
    const CUniqueBstr otherSchemas(pw::Api().SysAllocString(L"//xs:include | //xs:import | //xs:redefine"));
    const CUniqueBstr targetAttribute(pw::Api().SysAllocString(L"/xs:schema/@targetNamespace"));
    VARIANT yes = {};
    yes.vt = VT_BOOL;
    yes.boolVal = VARIANT_TRUE;
    VARIANT prefix = {};
    prefix.vt = VT_BSTR;
    prefix.bstrVal = schemaPrefix.get();
    if (failed(LogNames::Invoked::kSysAllocString, prohibitDtd.valid() && selectionNamespaces.valid() &&
                                                           schemaPrefix.valid() && otherSchemas.valid() &&
                                                           targetAttribute.valid()
                                                       ? S_OK
                                                       : E_OUTOFMEMORY) ||
        failed(LogNames::Invoked::kIXMLDOMDocument2SetProperty,
               document->setProperty(prohibitDtd.get(), yes)) ||
        failed(LogNames::Invoked::kIXMLDOMDocumentPutValidateOnParse,
               document->put_validateOnParse(VARIANT_FALSE)) ||
        failed(LogNames::Invoked::kIXMLDOMDocumentPutResolveExternals,
               document->put_resolveExternals(VARIANT_FALSE)) ||
        failed(LogNames::Invoked::kIXMLDOMDocumentPutAsync, document->put_async(VARIANT_FALSE)))
    {
        return;
    }
    const CComHolder<IStream> bytes = MemoryStream('W', schema, kWithout);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (!bytes)
    {
        return;
    }
    const HRESULT load = document->load(ObjectVariant(bytes.get(), VT_UNKNOWN), &loaded);
    CComHolder<IXMLDOMNode> other;
    CComHolder<IXMLDOMNode> target;
    // Null, the empty namespace, when the schema has no targetNamespace.
    CUniqueBstr targetNamespace;
    if (failed(LogNames::Invoked::kIXMLDOMDocumentLoad,
               SUCCEEDED(load) && loaded != VARIANT_TRUE ? E_FAIL : load) ||
        failed(LogNames::Invoked::kIXMLDOMDocument2SetProperty,
               document->setProperty(selectionNamespaces.get(), prefix)) ||
        failed(LogNames::Invoked::kIXMLDOMNodeSelectSingleNode,
               document->selectSingleNode(otherSchemas.get(), other.put())) ||
        failed(LogNames::Invoked::kIXMLDOMNodeSelectSingleNode,
               document->selectSingleNode(targetAttribute.get(), target.put())) ||
        (target && failed(LogNames::Invoked::kIXMLDOMNodeGetText, target->get_text(targetNamespace.put()))))
    {
        return;
    }
    if (other)
    {
        PW_LOG_DEBUG(kFunction, 'W',
                     "%s: it includes, imports or redefines another schema, which is not read", kWithout);
        return;
    }
    const std::wstring ownNamespace = targetNamespace.valid() ? targetNamespace.get() : L"";
    if (ownNamespace != schemaNamespace)
    {
        PW_LOG_DEBUG(kFunction, 'W', "%s: it is for the namespace \"%s\", not \"%s\"", kWithout,
                     CNarrowText(ownNamespace).c_str(), CNarrowText(schemaNamespace).c_str());
        return;
    }
    CComHolder<IXMLDOMSchemaCollection2> cache;
    if (failed(LogNames::Invoked::kIXMLDOMSchemaCollection2CoCreateInstance,
               pw::Api().CoCreateInstance(kCLSID_XMLSchemaCache60, nullptr, CLSCTX_INPROC_SERVER,
                                          kIID_IXMLDOMSchemaCollection2,
                                          reinterpret_cast<void**>(cache.put()))) ||
        failed(LogNames::Invoked::kIXMLDOMSchemaCollectionAdd,
               cache->add(targetNamespace.get(), ObjectVariant(document.get(), VT_DISPATCH))) ||
        failed(LogNames::Invoked::kISAXXMLReaderPutProperty,
               reader.putProperty(L"schemas", ObjectVariant(cache.get(), VT_DISPATCH))) ||
        failed(LogNames::Invoked::kISAXXMLReaderPutFeature,
               reader.putFeature(L"schema-validation", VARIANT_TRUE)))
    {
        return;
    }
    (void)failed(LogNames::Invoked::kISAXXMLReaderPutFeature,
                 reader.putFeature(L"exhaustive-errors", VARIANT_TRUE));
}

} // namespace

XmlParser::XmlParser(XmlMgr* manager) : m_manager(manager) {}

XmlParser::~XmlParser() = default;

ResultCode XmlParser::invokeParser(const std::string& document, const std::string* schema,
                                   const wchar_t* schemaNamespace)
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
    if (validating && schema != nullptr)
    {
        UseSchema(*reader.get(), *schema, schemaNamespace);
    }

    const CComHolder<IStream> source =
        MemoryStream('E', document, "Couldn't hand the document to the reader");
    if (!source)
    {
        return kFailed;
    }
    hr = reader->parse(ObjectVariant(source.get(), VT_UNKNOWN));
    if (SUCCEEDED(hr) || hr == kSchemaValidationResult)
    {
        return GLOBAL_SUCCESS;
    }
    (void)PW_LOG_IF_FAILED_HRESULT(LogNames::Invoked::kISAXXMLReaderParse, hr, nullptr);
    return kFailed;
}
