#include "vpn/Common/Xml/XmlParser.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <msxml2.h>

#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "RecordingXmlMgr.h"
#include "support/ApiOverride.h"
#include "support/LoggedEntry.h"
#include "support/PolicyDocument.h"
#include "support/RecordingEventLog.h"
#include "support/TempDirectory.h"
#include "vpn/Common/Platform/ComObject.h"
#include "vpn/Common/Xml/SaxIdentifiers.h"

namespace
{
using ::testing::_;
using ::testing::Contains;
using ::testing::Ge;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr ResultCode kFailed = 0xFE000009;
constexpr char kFunction[] = "XmlParser::invokeParser";

std::vector<LoggedEntry> EntriesInvoking(const RecordingEventLog& log, const std::string& invoked)
{
    return LoggedEntries(log, [&invoked](const LoggedEntry& entry) { return entry.invoked == invoked; });
}

// The parse's own failure, with the HRESULT that the reader gave: a failure code, whose value
// depends on the installed reader.
::testing::Matcher<const LoggedEntry&> ParseFailed()
{
    return LoggedEntryLike(Failure('E', kFunction, "XmlParser", "ISAXXMLReader::parse", 0), Ge(0x80000000ul),
                           "");
}

std::vector<LoggedEntry> ErrorEntries(const RecordingEventLog& log)
{
    return LoggedEntries(log, [](const LoggedEntry& entry) { return entry.level == 'E'; });
}

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

class XmlParserRead : public ::testing::Test
{
protected:
    ResultCode parse(const std::string& document)
    {
        return XmlParser(&manager).invokeParser(kDeclaration + document);
    }

    TempDirectory directory;
    RecordingEventLog log;
    RecordingXmlMgr manager;
};

TEST_F(XmlParserRead, ForwardsElementsAttributesAndTextInDocumentOrder)
{
    EXPECT_EQ(0u, parse("<root a=\"1\" b=\"two\"><child>value</child><empty></empty><closed/>"
                        "<mixed x=\"&lt;\">a &amp; b<![CDATA[<c>]]></mixed></root>"));

    const std::vector<std::wstring> expected = {
        L"start root",  L"attr a=1",    L"attr b=two",    L"start child",  L"text value",
        L"end child",   L"start empty", L"end empty",     L"start closed", L"end closed",
        L"start mixed", L"attr x=<",    L"text a & b<c>", L"end mixed",    L"end root"};
    EXPECT_EQ(expected, manager.normalized());
    EXPECT_THAT(ErrorEntries(log), IsEmpty());
}

TEST_F(XmlParserRead, ForwardsLocalNamesOfQualifiedElementsAndAttributes)
{
    EXPECT_EQ(0u, parse("<p:root xmlns:p=\"urn:pw-test\" xmlns=\"urn:pw-default\" p:first=\"1\" second=\"2\">"
                        "<p:item>t</p:item><inner/></p:root>"));

    const std::vector<std::wstring> expected = {L"start root",  L"attr first=1", L"attr second=2",
                                                L"start item",  L"text t",       L"end item",
                                                L"start inner", L"end inner",    L"end root"};
    EXPECT_EQ(expected, manager.normalized());
}

TEST_F(XmlParserRead, ReadsAPolicyFileAsItLiesOnDisk)
{
    const std::string document =
        PolicyRootLine() +
        "\r\n<FipsMode>true</FipsMode>\r\n<UpdatePolicy>\r\n"
        "<AuthorizedServerList>\r\n<ServerName><![CDATA[a&b]]></ServerName></AuthorizedServerList></"
        "UpdatePolicy>\r\n"
        "</PathweaveLocalPolicy>\r\n";

    EXPECT_EQ(0u, parse(document));

    // The line breaks between elements arrive as text; only the other events are compared here.
    std::vector<std::wstring> events;
    for (const std::wstring& event : manager.normalized())
    {
        EXPECT_EQ(std::wstring::npos, event.find(L'\r'));
        if (event.find_first_not_of(L"\n", 5) != std::wstring::npos || event.compare(0, 5, L"text ") != 0)
        {
            events.push_back(event);
        }
    }
    const std::vector<std::wstring> expected = {
        L"start PathweaveLocalPolicy",
        L"attr schemaLocation=http://www.veskar.com/pathweave/LocalPolicy PathweaveLocalPolicy.xsd",
        std::wstring(L"attr pwversion=") + kPolicyVersionW,
        L"start FipsMode",
        L"text true",
        L"end FipsMode",
        L"start UpdatePolicy",
        L"start AuthorizedServerList",
        L"start ServerName",
        L"text a&b",
        L"end ServerName",
        L"end AuthorizedServerList",
        L"end UpdatePolicy",
        L"end PathweaveLocalPolicy"};
    EXPECT_EQ(expected, events);
}

TEST_F(XmlParserRead, WithTheValidatingReaderOnlySchemaFeatureWarningsAreLogged)
{
    // Whether the schema features can be switched on depends on the installed reader; when they
    // cannot, each failure is a warning in the fixed feature order and the parse still runs.
    EXPECT_EQ(0u, parse("<root/>"));

    const std::vector<std::string> order = {"Couldn't enable use of schema location",
                                            "Couldn't enable exhaustive errors",
                                            "Couldn't enable schema validation"};
    size_t next = 0;
    for (const LoggedEntry& entry : LoggedEntries(log))
    {
        EXPECT_THAT(entry, LoggedEntryLike(
                               Failure('W', kFunction, "XmlParser", "ISAXXMLReader::putFeature", 0), _, _));
        while (next < order.size() && order[next] != entry.text)
        {
            ++next;
        }
        EXPECT_LT(next, order.size()) << entry.text;
        ++next;
    }
    EXPECT_EQ((std::vector<std::wstring>{L"start root", L"end root"}), manager.events);
}

TEST_F(XmlParserRead, EmptyDocumentFailsWithTheParseResultLogged)
{
    const ResultCode result = XmlParser(&manager).invokeParser("");

    EXPECT_EQ(kFailed, result);
    EXPECT_TRUE(manager.events.empty());
    const std::vector<LoggedEntry> parseEntries = EntriesInvoking(log, "ISAXXMLReader::parse");
    ASSERT_FALSE(parseEntries.empty());
    EXPECT_THAT(parseEntries.back(), ParseFailed());
}

TEST_F(XmlParserRead, MalformedDocumentReportsAFatalErrorAndFails)
{
    EXPECT_EQ(kFailed, parse("<root><a>x</root>"));

    // Events before the fault have reached the manager.
    const std::vector<std::wstring> events = manager.normalized();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ((std::vector<std::wstring>{L"start root", L"start a", L"text x"}),
              std::vector<std::wstring>(events.begin(), events.begin() + 3));

    EXPECT_THAT(LoggedEntries(log),
                Contains(LoggedEntryLike(Failure('E', "MSSaxErrorHandlerImpl::fatalError",
                                                 "MSSaxErrorHandlerImpl", "ISAXXMLReader::parse", 0),
                                         _, _)));
    // The reader's message may end in a line break, which the parse of an entry cannot tell from the
    // description's own: the caller's text is found in the whole entry.
    EXPECT_THAT(log.texts(), Contains(HasSubstr("\nXML Parser fatal error: ")));
    const std::vector<LoggedEntry> parseEntries = EntriesInvoking(log, "ISAXXMLReader::parse");
    ASSERT_FALSE(parseEntries.empty());
    EXPECT_THAT(parseEntries.back(), ParseFailed());
}

TEST_F(XmlParserRead, ElementBeginningWithQuStopsTheParseAfterItsAttributes)
{
    EXPECT_EQ(kFailed, parse("<root><quota limit=\"5\" unit=\"MB\">text</quota><after/></root>"));

    const std::vector<std::wstring> expected = {L"start root", L"start quota", L"attr limit=5",
                                                L"attr unit=MB"};
    EXPECT_EQ(expected, manager.normalized());
    EXPECT_THAT(
        EntriesInvoking(log, "ISAXXMLReader::parse"),
        Contains(LoggedEntryLike(Failure('E', kFunction, "XmlParser", "ISAXXMLReader::parse", 0), _, "")));
}

// COM apartment handling, observed through the seam around the real functions.
class XmlParserApartment : public XmlParserRead
{
protected:
    std::vector<DWORD> initFlags;
    int uninitCalls = 0;
    ApiOverride<HRESULT(LPVOID, DWORD)> enter =
        OverrideApi(&pw::PlatformApi::CoInitializeEx,
                    [this, real = pw::Api().CoInitializeEx](LPVOID reserved, DWORD flags)
                    {
                        initFlags.push_back(flags);
                        return real(reserved, flags);
                    });
    ApiOverride<void()> leave = OverrideApi(&pw::PlatformApi::CoUninitialize,
                                            [this, real = pw::Api().CoUninitialize]()
                                            {
                                                ++uninitCalls;
                                                real();
                                            });
};

TEST_F(XmlParserApartment, EntersTheMultithreadedApartmentAndLeavesItOnce)
{
    EXPECT_EQ(0u, parse("<root/>"));

    EXPECT_EQ(std::vector<DWORD>{4}, initFlags);
    EXPECT_EQ(1, uninitCalls);
    // COM is no longer initialised on this thread.
    EXPECT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ::CoUninitialize();
}

TEST_F(XmlParserApartment, JoinsASingleThreadedApartmentAndLeavesItAsItWas)
{
    ASSERT_EQ(S_OK, ::CoInitialize(nullptr));

    EXPECT_EQ(0u, parse("<root>x</root>"));

    EXPECT_EQ((std::vector<DWORD>{4, 6}), initFlags);
    EXPECT_EQ(1, uninitCalls);
    EXPECT_EQ((std::vector<std::wstring>{L"start root", L"text x", L"end root"}), manager.events);
    // Still in the test's own single-threaded apartment...
    EXPECT_EQ(S_FALSE, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ::CoUninitialize();
    // ...which the test's own CoUninitialize leaves.
    ::CoUninitialize();
    EXPECT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    ::CoUninitialize();
}

TEST_F(XmlParserApartment, NullManagerIsReportedWithoutTouchingCom)
{
    int comCalls = 0;
    const auto enterFake = OverrideApi(&pw::PlatformApi::CoInitializeEx,
                                       [&](LPVOID, DWORD)
                                       {
                                           ++comCalls;
                                           return S_OK;
                                       });
    const auto createFake = OverrideApi(&pw::PlatformApi::CoCreateInstance,
                                        [&](REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*)
                                        {
                                            ++comCalls;
                                            return E_FAIL;
                                        });

    EXPECT_EQ(kFailed, XmlParser(nullptr).invokeParser("<any/>"));

    EXPECT_EQ(0, comCalls);
    EXPECT_EQ(0, uninitCalls);
    EXPECT_EQ(std::vector<LoggedEntry>{Message('E', kFunction, "XmlParser", "XML Manager not provided")},
              LoggedEntries(log));
}

// The results that CoInitializeEx gives in turn, the last of them a failure.
class XmlParserApartmentRefused : public XmlParserApartment,
                                  public ::testing::WithParamInterface<std::vector<HRESULT>>
{
};

TEST_P(XmlParserApartmentRefused, FailedInitialisationIsLoggedAndTouchesNothingElse)
{
    const std::vector<HRESULT>& results = GetParam();
    size_t call = 0;
    int created = 0;
    const auto enterFake = OverrideApi(&pw::PlatformApi::CoInitializeEx,
                                       [&](LPVOID, DWORD flags)
                                       {
                                           initFlags.push_back(flags);
                                           return results[call++];
                                       });
    const auto createFake = OverrideApi(&pw::PlatformApi::CoCreateInstance,
                                        [&](REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*)
                                        {
                                            ++created;
                                            return E_FAIL;
                                        });

    EXPECT_EQ(kFailed, XmlParser(&manager).invokeParser("<any/>"));

    EXPECT_EQ(results.size(), initFlags.size());
    EXPECT_EQ(0, created);
    EXPECT_EQ(0, uninitCalls);
    EXPECT_EQ(std::vector<LoggedEntry>{Failure('E', kFunction, "XmlParser", "CoInitializeEx",
                                               static_cast<unsigned long>(results.back()))},
              LoggedEntries(log));
}

INSTANTIATE_TEST_SUITE_P(Results, XmlParserApartmentRefused,
                         ::testing::Values(std::vector<HRESULT>{E_OUTOFMEMORY},
                                           std::vector<HRESULT>{RPC_E_CHANGED_MODE, E_UNEXPECTED}));

// The choice of reader class, with the creation refused through the seam.
class XmlParserReaderChoice : public XmlParserRead
{
protected:
    struct Creation
    {
        CLSID clsid;
        DWORD context;
        IID iid;
    };

    std::vector<Creation> creations;
    bool refuse60 = false;
    bool refuse30 = false;
    ApiOverride<HRESULT(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*)> create =
        OverrideApi(&pw::PlatformApi::CoCreateInstance,
                    [this, real = pw::Api().CoCreateInstance](REFCLSID clsid, LPUNKNOWN outer, DWORD context,
                                                              REFIID iid, LPVOID* out)
                    {
                        creations.push_back({clsid, context, iid});
                        const bool is60 = IsEqualCLSID(clsid, kCLSID_SAXXMLReader60);
                        if ((is60 && refuse60) || (!is60 && refuse30))
                        {
                            *out = nullptr;
                            return REGDB_E_CLASSNOTREG;
                        }
                        return real(clsid, outer, context, iid, out);
                    });
};

// A reader class that is not registered.
const LoggedEntry kReaderRefused = Failure('E', kFunction, "XmlParser", "ISAXXMLReader::CoCreateInstance",
                                           0x80040154u, "Couldn't initialize SAX Reader");

TEST_F(XmlParserReaderChoice, WithoutMsxml6TheVersionIndependentReaderParsesWithoutSchemaFeatures)
{
    refuse60 = true;

    EXPECT_EQ(0u, parse("<root a=\"1\">v</root>"));

    ASSERT_EQ(2u, creations.size());
    EXPECT_TRUE(IsEqualCLSID(kCLSID_SAXXMLReader60, creations[0].clsid));
    EXPECT_TRUE(IsEqualCLSID(kCLSID_SAXXMLReader, creations[1].clsid));
    for (const Creation& creation : creations)
    {
        EXPECT_EQ(3u, creation.context);
        EXPECT_TRUE(IsEqualIID(kIID_ISAXXMLReader, creation.iid));
    }
    EXPECT_EQ(std::vector<LoggedEntry>{kReaderRefused}, LoggedEntries(log));
    EXPECT_EQ((std::vector<std::wstring>{L"start root", L"attr a=1", L"text v", L"end root"}),
              manager.normalized());
}

TEST_F(XmlParserReaderChoice, WithoutAnyReaderNothingIsParsed)
{
    refuse60 = true;
    refuse30 = true;
    int uninitCalls = 0;
    const auto leave = OverrideApi(&pw::PlatformApi::CoUninitialize,
                                   [&, real = pw::Api().CoUninitialize]()
                                   {
                                       ++uninitCalls;
                                       real();
                                   });

    EXPECT_EQ(kFailed, parse("<root/>"));

    EXPECT_EQ(2u, creations.size());
    EXPECT_EQ(1, uninitCalls);
    EXPECT_TRUE(manager.events.empty());
    EXPECT_EQ((std::vector<LoggedEntry>{kReaderRefused, kReaderRefused}), LoggedEntries(log));
}

// A stand-in reader handed out through the seam, for the calls that the real reader never fails.
// It counts its own references and, like the platform reader, holds the handlers it is given until
// its last reference goes.
class MockSaxReader : public ISAXXMLReader
{
public:
    MockSaxReader()
    {
        ON_CALL(*this, putContentHandler)
            .WillByDefault(
                [this](ISAXContentHandler* handler)
                {
                    hold(m_content, handler);
                    return S_OK;
                });
        ON_CALL(*this, putErrorHandler)
            .WillByDefault(
                [this](ISAXErrorHandler* handler)
                {
                    hold(m_error, handler);
                    return S_OK;
                });
    }

    MOCK_METHOD(HRESULT, putFeature, (const wchar_t*, VARIANT_BOOL), (Calltype(STDMETHODCALLTYPE), override));
    MOCK_METHOD(HRESULT, putContentHandler, (ISAXContentHandler*), (Calltype(STDMETHODCALLTYPE), override));
    MOCK_METHOD(HRESULT, putErrorHandler, (ISAXErrorHandler*), (Calltype(STDMETHODCALLTYPE), override));
    MOCK_METHOD(HRESULT, parse, (VARIANT), (Calltype(STDMETHODCALLTYPE), override));
    MOCK_METHOD(HRESULT, putProperty, (const wchar_t*, VARIANT), (Calltype(STDMETHODCALLTYPE), override));

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        if (--references == 0)
        {
            contentHandlerLastCount = letGo(m_content);
            errorHandlerLastCount = letGo(m_error);
        }
        return static_cast<ULONG>(references);
    }
    HRESULT STDMETHODCALLTYPE getFeature(const wchar_t*, VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE getProperty(const wchar_t*, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE getEntityResolver(ISAXEntityResolver**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE putEntityResolver(ISAXEntityResolver*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE getContentHandler(ISAXContentHandler**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE getDTDHandler(ISAXDTDHandler**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE putDTDHandler(ISAXDTDHandler*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE getErrorHandler(ISAXErrorHandler**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE getBaseURL(const wchar_t**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE putBaseURL(const wchar_t*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE getSecureBaseURL(const wchar_t**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE putSecureBaseURL(const wchar_t*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE parseURL(const wchar_t*) override { return E_NOTIMPL; }

    LONG references = 0;
    // What the handlers' Release returned when this reader let go of them; 99: never held.
    ULONG contentHandlerLastCount = 99;
    ULONG errorHandlerLastCount = 99;

private:
    static void hold(IUnknown*& slot, IUnknown* handler)
    {
        handler->AddRef();
        slot = handler;
    }
    static ULONG letGo(IUnknown*& slot)
    {
        return slot == nullptr ? 99 : std::exchange(slot, nullptr)->Release();
    }

    IUnknown* m_content = nullptr;
    IUnknown* m_error = nullptr;
};

class XmlParserReaderCalls : public ::testing::Test
{
protected:
    ResultCode parse(const std::string* schema = nullptr)
    {
        return XmlParser(&manager).invokeParser(kDocument, schema, L"urn:x");
    }

    const std::string kDocument = "<x:root xmlns:x=\"urn:x\"/>";
    bool schemaClasses = false; // the real DOM document and schema cache, else none registered
    CComHolder<IXMLDOMDocument2> schemaDocument; // the last real DOM document made
    RecordingEventLog log;
    RecordingXmlMgr manager;
    ::testing::NiceMock<MockSaxReader> reader;
    bool msxml6 = true;
    int uninitCalls = 0;
    ApiOverride<HRESULT(LPVOID, DWORD)> enter =
        OverrideApi(&pw::PlatformApi::CoInitializeEx, [](LPVOID, DWORD) { return S_OK; });
    ApiOverride<void()> leave = OverrideApi(&pw::PlatformApi::CoUninitialize, [this]() { ++uninitCalls; });
    ApiOverride<HRESULT(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*)> create = OverrideApi(
        &pw::PlatformApi::CoCreateInstance,
        [this, real = pw::Api().CoCreateInstance](REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                                                  LPVOID* out)
        {
            if (IsEqualCLSID(clsid, kCLSID_DOMDocument60) || IsEqualCLSID(clsid, kCLSID_XMLSchemaCache60))
            {
                *out = nullptr;
                const HRESULT hr =
                    schemaClasses ? real(clsid, outer, context, iid, out) : REGDB_E_CLASSNOTREG;
                if (SUCCEEDED(hr) && IsEqualCLSID(clsid, kCLSID_DOMDocument60))
                {
                    static_cast<IUnknown*>(*out)->AddRef();
                    schemaDocument.reset(static_cast<IXMLDOMDocument2*>(*out));
                    // Windows' default, which Wine's document does not have.
                    schemaDocument->put_validateOnParse(VARIANT_TRUE);
                }
                return hr;
            }
            if (!msxml6 && IsEqualCLSID(clsid, kCLSID_SAXXMLReader60))
            {
                *out = nullptr;
                return REGDB_E_CLASSNOTREG;
            }
            reader.AddRef();
            *out = static_cast<ISAXXMLReader*>(&reader);
            return S_OK;
        });
};

using ::testing::NotNull;
using ::testing::Return;
using ::testing::StrEq;

// The bytes of the stream that the reader was handed to parse.
::testing::Matcher<VARIANT> StreamOf(const std::string& bytes)
{
    return ::testing::Truly(
        [bytes](const VARIANT& source)
        {
            IStream* stream = nullptr;
            if (source.vt != VT_UNKNOWN || source.punkVal == nullptr ||
                FAILED(source.punkVal->QueryInterface(IID_IStream, reinterpret_cast<void**>(&stream))))
            {
                return false;
            }
            std::string read(bytes.size() + 1, '\0');
            ULONG got = 0;
            const bool same = SUCCEEDED(stream->Read(&read[0], static_cast<ULONG>(read.size()), &got)) &&
                              read.substr(0, got) == bytes;
            stream->Release();
            return same;
        });
}

TEST_F(XmlParserReaderCalls, WithoutSchemaTheReaderParsesTheBytesAsGivenAndEverythingIsReleased)
{
    {
        ::testing::InSequence order;
        EXPECT_CALL(reader, putContentHandler(NotNull()));
        EXPECT_CALL(reader, putErrorHandler(NotNull()));
        EXPECT_CALL(reader, parse(StreamOf(kDocument)));
    }
    EXPECT_CALL(reader, putFeature).Times(0);
    EXPECT_CALL(reader, putProperty).Times(0);

    EXPECT_EQ(0u, parse());

    EXPECT_THAT(log.entries(), IsEmpty());
    EXPECT_EQ(0, reader.references);
    // The parser had already dropped its own references when the reader let go of the handlers.
    EXPECT_EQ(0u, reader.contentHandlerLastCount);
    EXPECT_EQ(0u, reader.errorHandlerLastCount);
    EXPECT_EQ(1, uninitCalls);
}

// MSXML 6.0 prohibits DTDs by default, MSXML 3.0 must be told to; a 3.0 reader that refuses is not used.
TEST_F(XmlParserReaderCalls, VersionIndependentReaderGetsDtdsProhibitedAndNoSchemaFeatures)
{
    msxml6 = false;
    for (const HRESULT answer : {S_OK, E_NOTIMPL})
    {
        ::testing::InSequence order;
        EXPECT_CALL(reader, putContentHandler(NotNull()));
        EXPECT_CALL(reader, putErrorHandler(NotNull()));
        EXPECT_CALL(reader, putFeature(StrEq(std::wstring(L"prohibit-dtd")), VARIANT_TRUE))
            .WillOnce(Return(answer));
        EXPECT_CALL(reader, parse).Times(answer == S_OK ? 1 : 0);
        EXPECT_CALL(reader, putProperty).Times(0);
        const std::string schema = "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"/>";
        EXPECT_EQ(answer == S_OK ? 0u : kFailed, parse(&schema));
    }
}

// A schema reaches the reader through a cache, never through a location that the document names. A
// step that fails is one warning, and the document is read without validation.
TEST_F(XmlParserReaderCalls, SchemaIsGivenThroughACacheAndARefusedStepIsOneWarning)
{
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))); // for the real cache
    const std::string schema =
        "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" targetNamespace=\"urn:x\">"
        "<xs:element name=\"root\"/></xs:schema>";
    const auto warning = [](const char* invoked, HRESULT hr)
    {
        return Failure('W', kFunction, "XmlParser", invoked, static_cast<unsigned long>(hr),
                       "The policy is read without its schema");
    };
    for (const auto& [classes, property, entries] :
         {std::make_tuple(true, S_OK, std::vector<LoggedEntry>{}),
          std::make_tuple(true, E_INVALIDARG,
                          std::vector<LoggedEntry>{warning("ISAXXMLReader::putProperty", E_INVALIDARG)}),
          std::make_tuple(
              false, S_OK,
              std::vector<LoggedEntry>{warning("IXMLDOMDocument2::CoCreateInstance", REGDB_E_CLASSNOTREG)})})
    {
        schemaClasses = classes;
        log.clear();
        ::testing::InSequence order;
        EXPECT_CALL(reader,
                    putProperty(StrEq(std::wstring(L"schemas")),
                                ::testing::Truly([](const VARIANT& v) { return v.vt == VT_DISPATCH; })))
            .Times(classes ? 1 : 0)
            .WillRepeatedly(Return(property));
        EXPECT_CALL(reader, putFeature(StrEq(std::wstring(L"schema-validation")), VARIANT_TRUE))
            .Times(property == S_OK && classes ? 1 : 0);
        EXPECT_CALL(reader, putFeature(StrEq(std::wstring(L"exhaustive-errors")), VARIANT_TRUE))
            .Times(property == S_OK && classes ? 1 : 0);
        EXPECT_CALL(reader, parse(StreamOf(kDocument)));
        EXPECT_EQ(0u, parse(&schema));
        EXPECT_EQ(entries, LoggedEntries(log));
        // Nothing outside the schema's bytes is validated against or loaded, as a cache loads a schema.
        VARIANT_BOOL validates = VARIANT_TRUE;
        VARIANT_BOOL resolves = VARIANT_TRUE;
        EXPECT_TRUE(!classes || (SUCCEEDED(schemaDocument->get_validateOnParse(&validates)) &&
                                 SUCCEEDED(schemaDocument->get_resolveExternals(&resolves)) &&
                                 validates == VARIANT_FALSE && resolves == VARIANT_FALSE));
        schemaDocument.reset();
    }
    ::CoUninitialize();
}

// A stream that takes half of what it is given.
class ShortStream : public ComObject<IStream, IID_IStream>
{
public:
    STDMETHODIMP Write(const void*, ULONG size, ULONG* written) override { return *written = size / 2, S_OK; }
    STDMETHODIMP Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return S_OK; }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }
};

TEST_F(XmlParserReaderCalls, AStreamThatTakesPartOfTheDocumentIsAFailure)
{
    const auto shortStream =
        OverrideApi(&pw::PlatformApi::CreateStreamOnHGlobal, [](HGLOBAL, BOOL, LPSTREAM* stream)
                    { return (*stream = new ShortStream())->AddRef(), S_OK; });
    EXPECT_CALL(reader, parse).Times(0);
    EXPECT_EQ(kFailed, parse());
    EXPECT_EQ(1u, EntriesInvoking(log, "IStream::Write").size());
}

// What parse returns, and the result of the read.
struct ParseOutcome
{
    HRESULT parseResult;
    ResultCode expected;
};

class XmlParserParseResult : public XmlParserReaderCalls, public ::testing::WithParamInterface<ParseOutcome>
{
};

TEST_P(XmlParserParseResult, DecidesTheOutcome)
{
    ON_CALL(reader, parse).WillByDefault(Return(GetParam().parseResult));

    EXPECT_EQ(GetParam().expected, parse());

    if (GetParam().expected == 0)
    {
        EXPECT_THAT(log.entries(), IsEmpty());
    }
    else
    {
        EXPECT_EQ(std::vector<LoggedEntry>{Failure('E', kFunction, "XmlParser", "ISAXXMLReader::parse",
                                                   static_cast<unsigned long>(GetParam().parseResult))},
                  LoggedEntries(log));
    }
}

INSTANTIATE_TEST_SUITE_P(Succeeded, XmlParserParseResult,
                         ::testing::Values(ParseOutcome{S_FALSE, 0},
                                           ParseOutcome{static_cast<HRESULT>(0xC00CE225), 0}));
INSTANTIATE_TEST_SUITE_P(Failed, XmlParserParseResult,
                         ::testing::Values(ParseOutcome{static_cast<HRESULT>(0xC00CE224), kFailed},
                                           ParseOutcome{E_FAIL, kFailed}));

// A handler that the reader refuses, and what is logged for it.
struct RefusedHandler
{
    bool content; // the content handler is refused; otherwise the error handler
    const char* invoked;
    const char* text;
};

class XmlParserRefusedHandler : public XmlParserReaderCalls,
                                public ::testing::WithParamInterface<RefusedHandler>
{
};

TEST_P(XmlParserRefusedHandler, StopsBeforeTheParse)
{
    const RefusedHandler& refused = GetParam();
    if (refused.content)
    {
        EXPECT_CALL(reader, putContentHandler).WillOnce(Return(E_INVALIDARG));
        EXPECT_CALL(reader, putErrorHandler).Times(0);
    }
    else
    {
        EXPECT_CALL(reader, putContentHandler);
        EXPECT_CALL(reader, putErrorHandler).WillOnce(Return(E_INVALIDARG));
    }
    EXPECT_CALL(reader, putFeature).Times(0);
    EXPECT_CALL(reader, parse).Times(0);

    EXPECT_EQ(kFailed, parse());

    EXPECT_EQ(0, reader.references);
    EXPECT_EQ(1, uninitCalls);
    EXPECT_EQ(std::vector<LoggedEntry>{Failure('E', kFunction, "XmlParser", refused.invoked, 0x80070057u,
                                               refused.text)},
              LoggedEntries(log));
}

INSTANTIATE_TEST_SUITE_P(Handlers, XmlParserRefusedHandler,
                         ::testing::Values(RefusedHandler{true, "ISAXXMLReader::putContentHandler",
                                                          "Error configuring content handler"},
                                           RefusedHandler{false, "ISAXXMLReader::putErrorHandler",
                                                          "Error configuring error handler"}));

} // namespace
