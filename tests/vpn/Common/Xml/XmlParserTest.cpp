#include <gtest/gtest.h>

#include <windows.h>
#include <msxml2.h>

#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/RecordingEventLog.h"
#include "RecordingXmlMgr.h"
#include "support/ScopedPlatformApi.h"
#include "vpn/Common/Xml/SaxIdentifiers.h"
#include "vpn/Common/Xml/XmlParser.h"

namespace
{
constexpr ResultCode kFailed = 0xFE000009;
constexpr char kFunction[] = "XmlParser::invokeParser";

unsigned Code(const ParsedEntry& entry)
{
    return static_cast<unsigned>(entry.code);
}

std::vector<ParsedEntry> EntriesInvoking(const RecordingEventLog& log, const std::string& invoked)
{
    std::vector<ParsedEntry> result;
    for (const ParsedEntry& entry : ParsedEntries(log))
    {
        if (entry.invoked == invoked)
        {
            result.push_back(entry);
        }
    }
    return result;
}

size_t ErrorEntries(const RecordingEventLog& log)
{
    size_t count = 0;
    for (const EventLogEntry& entry : log.entries())
    {
        count += entry.type == EVENTLOG_ERROR_TYPE ? 1 : 0;
    }
    return count;
}

// A fresh directory under the temporary folder, removed with the files written into it.
class TempDirectory
{
public:
    TempDirectory()
    {
        static unsigned counter = 0;
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        m_path = std::wstring(temp) + L"pwreader-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                 std::to_wstring(::GetTickCount()) + L"-" + std::to_wstring(++counter) + L"\\";
        ::CreateDirectoryW(m_path.c_str(), nullptr);
    }
    ~TempDirectory()
    {
        for (const std::wstring& file : m_files)
        {
            ::DeleteFileW(file.c_str());
        }
        ::RemoveDirectoryW(m_path.c_str());
    }

    std::wstring write(const std::wstring& name, const std::string& content)
    {
        const std::wstring file = m_path + name;
        std::ofstream out(file.c_str(), std::ios::binary | std::ios::trunc);
        out << content;
        m_files.push_back(file);
        return file;
    }
    const std::wstring& path() const { return m_path; }

private:
    std::wstring m_path;
    std::vector<std::wstring> m_files;
};

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

class XmlParserRead : public ::testing::Test
{
protected:
    ResultCode parse(const std::string& document)
    {
        return XmlParser(&manager).invokeParser(directory.write(L"doc.xml", kDeclaration + document));
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
    EXPECT_EQ(0u, ErrorEntries(log));
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
    const std::string ns = "http://www.veskar.com/pathweave/LocalPolicy";
    const std::string document =
        "<PathweaveLocalPolicy xmlns=\"" + ns +
        "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:schemaLocation=\"" + ns +
        " PathweaveLocalPolicy.xsd\" "
        "pwversion=\"4.1.06020\">\r\n<FipsMode>true</FipsMode>\r\n<UpdatePolicy>\r\n"
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
        L"attr pwversion=4.1.06020",
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
    for (size_t i = 0; i < log.entries().size(); ++i)
    {
        const ParsedEntry entry = ParseEntry(log.entries()[i].text);
        EXPECT_EQ("ISAXXMLReader::putFeature", entry.invoked);
        EXPECT_EQ(EVENTLOG_WARNING_TYPE, log.entries()[i].type);
        while (next < order.size() && order[next] != entry.text)
        {
            ++next;
        }
        EXPECT_LT(next, order.size()) << entry.text;
        ++next;
    }
    EXPECT_EQ((std::vector<std::wstring>{L"start root", L"end root"}), manager.events);
}

TEST_F(XmlParserRead, MissingFileFailsWithTheParseResultLogged)
{
    const ResultCode result = XmlParser(&manager).invokeParser(directory.path() + L"absent.xml");

    EXPECT_EQ(kFailed, result);
    EXPECT_TRUE(manager.events.empty());
    const std::vector<ParsedEntry> parseEntries = EntriesInvoking(log, "ISAXXMLReader::parse");
    ASSERT_FALSE(parseEntries.empty());
    const ParsedEntry& last = parseEntries.back();
    EXPECT_EQ(kFunction, last.function);
    EXPECT_EQ("XmlParser", last.file);
    EXPECT_TRUE(FAILED(static_cast<HRESULT>(Code(last)))) << last.hexCode;
    EXPECT_EQ("", last.text);
}

// A file that another opener holds for the moment, as a rename over it holds it for delete, is
// read once it is free again; pauses go through the seam and are recorded.
class XmlParserFileInUse : public XmlParserRead
{
protected:
    XmlParserFileInUse()
    {
        path = directory.write(L"doc.xml", std::string(kDeclaration) + "<root a=\"1\"/>");
        pw::Api().Sleep = [this](DWORD ms)
        {
            pauses.push_back(ms);
            if (pauses.size() == releaseAfter && holder != INVALID_HANDLE_VALUE)
            {
                ::CloseHandle(std::exchange(holder, INVALID_HANDLE_VALUE));
            }
        };
    }
    ~XmlParserFileInUse() override
    {
        if (holder != INVALID_HANDLE_VALUE)
        {
            ::CloseHandle(holder);
        }
    }

    // Opens the file for delete as a rename that replaces it does, which keeps out every reader
    // that does not share delete access.
    void holdForReplacing()
    {
        holder = ::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    }

    ScopedPlatformApi api;
    std::wstring path;
    HANDLE holder = INVALID_HANDLE_VALUE;
    size_t releaseAfter = 0; // the pause after which the holder lets go; 0: never
    std::vector<DWORD> pauses;
    const std::vector<std::wstring> wholeDocument = {L"start root", L"attr a=1", L"end root"};
};

TEST_F(XmlParserFileInUse, IsReadOnceTheOtherOpenerLetsGo)
{
    holdForReplacing();
    releaseAfter = 2;
    EXPECT_EQ(0u, XmlParser(&manager).invokeParser(path));
    EXPECT_EQ((std::vector<DWORD>{50, 50}), pauses);
    EXPECT_EQ(wholeDocument, manager.normalized());
    EXPECT_EQ(0u, ErrorEntries(log));
}

TEST_F(XmlParserFileInUse, GivesUpAfterTwentyAttemptsWithTheErrorLogged)
{
    holdForReplacing();
    EXPECT_EQ(kFailed, XmlParser(&manager).invokeParser(path));
    EXPECT_EQ(19u, pauses.size());
    EXPECT_TRUE(manager.events.empty()) << "nothing is parsed";
    const std::vector<ParsedEntry> entries = EntriesInvoking(log, "::CreateFile");
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(kFunction, entries[0].function);
    EXPECT_EQ(static_cast<unsigned>(ERROR_SHARING_VIOLATION), Code(entries[0]));
    EXPECT_EQ("The file stayed in use", entries[0].text);
    EXPECT_EQ(1u, ErrorEntries(log));
    EXPECT_TRUE(EntriesInvoking(log, "ISAXXMLReader::parse").empty());
}

TEST_F(XmlParserFileInUse, OnlyInUseErrorsAreTriedAgain)
{
    for (const DWORD error : {ERROR_ACCESS_DENIED, ERROR_LOCK_VIOLATION, ERROR_SHARING_VIOLATION})
    {
        RecordingXmlMgr reader;
        pauses.clear();
        int refusals = 0;
        const auto open = pw::Api().CreateFileW;
        pw::Api().CreateFileW = [&](LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                    DWORD disposition, DWORD flags, HANDLE model)
        {
            if (++refusals <= 3)
            {
                ::SetLastError(error);
                return INVALID_HANDLE_VALUE;
            }
            return open(name, access, share, security, disposition, flags, model);
        };
        EXPECT_EQ(0u, XmlParser(&reader).invokeParser(path)) << error;
        EXPECT_EQ(3u, pauses.size()) << error;
        EXPECT_EQ(wholeDocument, reader.normalized()) << error;
        pw::Api().CreateFileW = open;
    }

    // A missing file is no file in use: the parse reports it at once.
    pauses.clear();
    EXPECT_EQ(kFailed, XmlParser(&manager).invokeParser(directory.path() + L"absent.xml"));
    EXPECT_TRUE(pauses.empty());
    EXPECT_EQ(1u, EntriesInvoking(log, "ISAXXMLReader::parse").size());
}

TEST_F(XmlParserRead, MalformedDocumentReportsAFatalErrorAndFails)
{
    EXPECT_EQ(kFailed, parse("<root><a>x</root>"));

    // Events before the fault have reached the manager.
    const std::vector<std::wstring> events = manager.normalized();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ((std::vector<std::wstring>{L"start root", L"start a", L"text x"}),
              std::vector<std::wstring>(events.begin(), events.begin() + 3));

    bool fatalLogged = false;
    for (const EventLogEntry& entry : log.entries())
    {
        const ParsedEntry parsed = ParseEntry(entry.text);
        if (parsed.function == "MSSaxErrorHandlerImpl::fatalError")
        {
            fatalLogged = true;
            EXPECT_EQ("MSSaxErrorHandlerImpl", parsed.file);
            EXPECT_EQ("ISAXXMLReader::parse", parsed.invoked);
            EXPECT_EQ(EVENTLOG_ERROR_TYPE, entry.type);
            EXPECT_NE(std::string::npos, entry.text.find("\nXML Parser fatal error: ")) << entry.text;
        }
    }
    EXPECT_TRUE(fatalLogged);
    const std::vector<ParsedEntry> parseEntries = EntriesInvoking(log, "ISAXXMLReader::parse");
    ASSERT_FALSE(parseEntries.empty());
    EXPECT_EQ(kFunction, parseEntries.back().function);
}

TEST_F(XmlParserRead, ElementBeginningWithQuStopsTheParseAfterItsAttributes)
{
    EXPECT_EQ(kFailed, parse("<root><quota limit=\"5\" unit=\"MB\">text</quota><after/></root>"));

    const std::vector<std::wstring> expected = {L"start root", L"start quota", L"attr limit=5",
                                                L"attr unit=MB"};
    EXPECT_EQ(expected, manager.normalized());
    bool parseLogged = false;
    for (const ParsedEntry& entry : EntriesInvoking(log, "ISAXXMLReader::parse"))
    {
        parseLogged = parseLogged || entry.function == kFunction;
    }
    EXPECT_TRUE(parseLogged);
}

// COM apartment handling, observed through the seam around the real functions.
class XmlParserApartment : public XmlParserRead
{
protected:
    XmlParserApartment()
    {
        const pw::PlatformApi real = pw::Api();
        pw::Api().CoInitializeEx = [this, real](LPVOID reserved, DWORD flags)
        {
            initFlags.push_back(flags);
            return real.CoInitializeEx(reserved, flags);
        };
        pw::Api().CoUninitialize = [this, real]()
        {
            ++uninitCalls;
            real.CoUninitialize();
        };
    }

    ScopedPlatformApi api;
    std::vector<DWORD> initFlags;
    int uninitCalls = 0;
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

TEST_F(XmlParserApartment, FailedInitialisationIsLoggedAndTouchesNothingElse)
{
    for (const std::vector<HRESULT>& results :
         {std::vector<HRESULT>{E_OUTOFMEMORY}, std::vector<HRESULT>{RPC_E_CHANGED_MODE, E_UNEXPECTED}})
    {
        log.clear();
        initFlags.clear();
        size_t call = 0;
        int created = 0;
        pw::Api().CoInitializeEx = [&](LPVOID, DWORD flags)
        {
            initFlags.push_back(flags);
            return results[call++];
        };
        pw::Api().CoCreateInstance = [&](REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*)
        {
            ++created;
            return E_FAIL;
        };

        EXPECT_EQ(kFailed, XmlParser(&manager).invokeParser(directory.path() + L"any.xml"));

        EXPECT_EQ(results.size(), initFlags.size());
        EXPECT_EQ(0, created);
        EXPECT_EQ(0, uninitCalls);
        const std::vector<ParsedEntry> entries = ParsedEntries(log);
        ASSERT_EQ(1u, entries.size());
        EXPECT_EQ(EVENTLOG_ERROR_TYPE, log.entries()[0].type);
        EXPECT_EQ(ReturnCodeEntry(kFunction, "XmlParser", entries[0].line, "CoInitializeEx",
                                  static_cast<unsigned>(results.back()), entries[0].description, ""),
                  log.entries()[0].text);
    }
}

TEST_F(XmlParserApartment, NullManagerIsReportedWithoutTouchingCom)
{
    int comCalls = 0;
    pw::Api().CoInitializeEx = [&](LPVOID, DWORD)
    {
        ++comCalls;
        return S_OK;
    };
    pw::Api().CoCreateInstance = [&](REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*)
    {
        ++comCalls;
        return E_FAIL;
    };

    EXPECT_EQ(kFailed, XmlParser(nullptr).invokeParser(directory.path() + L"any.xml"));

    EXPECT_EQ(0, comCalls);
    EXPECT_EQ(0, uninitCalls);
    ASSERT_EQ(1u, log.entries().size());
    const ParsedEntry entry = ParseEntry(log.entries()[0].text);
    EXPECT_EQ(DebugEntry(kFunction, "XmlParser", entry.line, "XML Manager not provided"),
              log.entries()[0].text);
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, log.entries()[0].type);
}

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

    void refuse(bool msxml6, bool msxml3)
    {
        const pw::PlatformApi real = pw::Api();
        pw::Api().CoCreateInstance =
            [=](REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* out)
        {
            creations.push_back({clsid, context, iid});
            const bool is60 = IsEqualCLSID(clsid, kCLSID_SAXXMLReader60);
            if ((is60 && msxml6) || (!is60 && msxml3))
            {
                *out = nullptr;
                return REGDB_E_CLASSNOTREG;
            }
            return real.CoCreateInstance(clsid, outer, context, iid, out);
        };
    }

    ScopedPlatformApi api;
    std::vector<Creation> creations;
};

TEST_F(XmlParserReaderChoice, WithoutMsxml6TheVersionIndependentReaderParsesWithoutSchemaFeatures)
{
    refuse(true, false);

    EXPECT_EQ(0u, parse("<root a=\"1\">v</root>"));

    ASSERT_EQ(2u, creations.size());
    EXPECT_TRUE(IsEqualCLSID(kCLSID_SAXXMLReader60, creations[0].clsid));
    EXPECT_TRUE(IsEqualCLSID(kCLSID_SAXXMLReader, creations[1].clsid));
    for (const Creation& creation : creations)
    {
        EXPECT_EQ(3u, creation.context);
        EXPECT_TRUE(IsEqualIID(kIID_ISAXXMLReader, creation.iid));
    }
    const std::vector<ParsedEntry> entries = ParsedEntries(log);
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, log.entries()[0].type);
    EXPECT_EQ(kFunction, entries[0].function);
    EXPECT_EQ("ISAXXMLReader::CoCreateInstance", entries[0].invoked);
    EXPECT_EQ(0x80040154u, Code(entries[0]));
    EXPECT_EQ("Couldn't initialize SAX Reader", entries[0].text);
    EXPECT_EQ((std::vector<std::wstring>{L"start root", L"attr a=1", L"text v", L"end root"}),
              manager.normalized());
}

TEST_F(XmlParserReaderChoice, WithoutAnyReaderNothingIsParsed)
{
    refuse(true, true);
    int uninitCalls = 0;
    const pw::PlatformApi real = pw::Api();
    pw::Api().CoUninitialize = [&, real]()
    {
        ++uninitCalls;
        real.CoUninitialize();
    };

    EXPECT_EQ(kFailed, parse("<root/>"));

    EXPECT_EQ(2u, creations.size());
    EXPECT_EQ(1, uninitCalls);
    EXPECT_TRUE(manager.events.empty());
    const std::vector<ParsedEntry> entries = ParsedEntries(log);
    ASSERT_EQ(2u, entries.size());
    for (const ParsedEntry& entry : entries)
    {
        EXPECT_EQ("ISAXXMLReader::CoCreateInstance", entry.invoked);
        EXPECT_EQ(0x80040154u, Code(entry));
        EXPECT_EQ("Couldn't initialize SAX Reader", entry.text);
    }
}

// A stand-in reader handed out through the seam, for the calls that the real reader never fails.
class FakeSaxReader : public ISAXXMLReader
{
public:
    HRESULT contentHandlerResult = S_OK;
    HRESULT errorHandlerResult = S_OK;
    HRESULT featureResult = S_OK;
    HRESULT parseResult = S_OK;
    std::function<void(const wchar_t*)> onParse;
    std::vector<std::wstring> calls;
    LONG references = 0;
    // What the handlers' Release returned when this reader let go of them.
    ULONG contentHandlerLastCount = 99;
    ULONG errorHandlerLastCount = 99;

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
            if (m_content != nullptr)
            {
                contentHandlerLastCount = std::exchange(m_content, nullptr)->Release();
            }
            if (m_error != nullptr)
            {
                errorHandlerLastCount = std::exchange(m_error, nullptr)->Release();
            }
        }
        return static_cast<ULONG>(references);
    }
    HRESULT STDMETHODCALLTYPE getFeature(const wchar_t*, VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE putFeature(const wchar_t* name, VARIANT_BOOL value) override
    {
        calls.push_back(L"putFeature " + std::wstring(name) + L" " + std::to_wstring(value));
        return featureResult;
    }
    HRESULT STDMETHODCALLTYPE getProperty(const wchar_t*, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE putProperty(const wchar_t*, VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE getEntityResolver(ISAXEntityResolver**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE putEntityResolver(ISAXEntityResolver*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE getContentHandler(ISAXContentHandler**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE putContentHandler(ISAXContentHandler* handler) override
    {
        calls.push_back(L"putContentHandler");
        if (SUCCEEDED(contentHandlerResult))
        {
            handler->AddRef();
            m_content = handler;
        }
        return contentHandlerResult;
    }
    HRESULT STDMETHODCALLTYPE getDTDHandler(ISAXDTDHandler**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE putDTDHandler(ISAXDTDHandler*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE getErrorHandler(ISAXErrorHandler**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE putErrorHandler(ISAXErrorHandler* handler) override
    {
        calls.push_back(L"putErrorHandler");
        if (SUCCEEDED(errorHandlerResult))
        {
            handler->AddRef();
            m_error = handler;
        }
        return errorHandlerResult;
    }
    HRESULT STDMETHODCALLTYPE getBaseURL(const wchar_t**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE putBaseURL(const wchar_t*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE getSecureBaseURL(const wchar_t**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE putSecureBaseURL(const wchar_t*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE parse(VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE parseURL(const wchar_t* url) override
    {
        calls.push_back(L"parseURL " + std::wstring(url));
        if (onParse)
        {
            onParse(url);
        }
        return parseResult;
    }

private:
    ISAXContentHandler* m_content = nullptr;
    ISAXErrorHandler* m_error = nullptr;
};

class XmlParserReaderCalls : public ::testing::Test
{
protected:
    XmlParserReaderCalls()
    {
        pw::Api().CoInitializeEx = [](LPVOID, DWORD) { return S_OK; };
        pw::Api().CoUninitialize = [this]() { ++uninitCalls; };
        pw::Api().CoCreateInstance = [this](REFCLSID clsid, LPUNKNOWN, DWORD, REFIID, LPVOID* out)
        {
            if (!msxml6 && IsEqualCLSID(clsid, kCLSID_SAXXMLReader60))
            {
                *out = nullptr;
                return REGDB_E_CLASSNOTREG;
            }
            reader.AddRef();
            *out = static_cast<ISAXXMLReader*>(&reader);
            return S_OK;
        };
    }

    ResultCode parse() { return XmlParser(&manager).invokeParser(kPath); }

    const std::wstring kPath = L"C:\\policy dir\\doc.xml";
    ScopedPlatformApi api;
    RecordingEventLog log;
    RecordingXmlMgr manager;
    FakeSaxReader reader;
    bool msxml6 = true;
    int uninitCalls = 0;
};

TEST_F(XmlParserReaderCalls, ValidatingReaderIsConfiguredThenParsesThePathAndEverythingIsReleased)
{
    EXPECT_EQ(0u, parse());

    const std::vector<std::wstring> expected = {L"putContentHandler",
                                                L"putErrorHandler",
                                                L"putFeature use-schema-location -1",
                                                L"putFeature exhaustive-errors -1",
                                                L"putFeature schema-validation -1",
                                                L"parseURL " + kPath};
    EXPECT_EQ(expected, reader.calls);
    EXPECT_TRUE(log.entries().empty());
    EXPECT_EQ(0, reader.references);
    // The parser had already dropped its own references when the reader let go of the handlers.
    EXPECT_EQ(0u, reader.contentHandlerLastCount);
    EXPECT_EQ(0u, reader.errorHandlerLastCount);
    EXPECT_EQ(1, uninitCalls);
}

TEST_F(XmlParserReaderCalls, VersionIndependentReaderGetsNoSchemaFeatures)
{
    msxml6 = false;

    EXPECT_EQ(0u, parse());

    EXPECT_EQ((std::vector<std::wstring>{L"putContentHandler", L"putErrorHandler", L"parseURL " + kPath}),
              reader.calls);
}

TEST_F(XmlParserReaderCalls, RefusedSchemaFeaturesAreWarningsAndTheParseGoesOn)
{
    reader.featureResult = E_NOTIMPL;

    EXPECT_EQ(0u, parse());

    const std::vector<ParsedEntry> entries = ParsedEntries(log);
    const std::vector<std::string> texts = {"Couldn't enable use of schema location",
                                            "Couldn't enable exhaustive errors",
                                            "Couldn't enable schema validation"};
    ASSERT_EQ(texts.size(), entries.size());
    for (size_t i = 0; i < texts.size(); ++i)
    {
        EXPECT_EQ(EVENTLOG_WARNING_TYPE, log.entries()[i].type);
        EXPECT_EQ(kFunction, entries[i].function);
        EXPECT_EQ("ISAXXMLReader::putFeature", entries[i].invoked);
        EXPECT_EQ(0x80004001u, Code(entries[i]));
        EXPECT_EQ(texts[i], entries[i].text);
    }
    EXPECT_EQ(L"parseURL " + kPath, reader.calls.back());
}

TEST_F(XmlParserReaderCalls, ParseResultDecidesTheOutcome)
{
    struct Case
    {
        HRESULT parseResult;
        ResultCode expected;
    };
    for (const Case& c : {Case{S_FALSE, 0}, Case{static_cast<HRESULT>(0xC00CE225), 0},
                          Case{static_cast<HRESULT>(0xC00CE224), kFailed}, Case{E_FAIL, kFailed}})
    {
        log.clear();
        reader.parseResult = c.parseResult;

        EXPECT_EQ(c.expected, parse()) << std::hex << c.parseResult;

        const std::vector<ParsedEntry> entries = ParsedEntries(log);
        if (c.expected == 0)
        {
            EXPECT_TRUE(entries.empty());
            continue;
        }
        ASSERT_EQ(1u, entries.size());
        EXPECT_EQ(EVENTLOG_ERROR_TYPE, log.entries()[0].type);
        EXPECT_EQ(ReturnCodeEntry(kFunction, "XmlParser", entries[0].line, "ISAXXMLReader::parse",
                                  static_cast<unsigned>(c.parseResult), entries[0].description, ""),
                  log.entries()[0].text);
    }
}

TEST_F(XmlParserReaderCalls, RefusedHandlersStopBeforeTheParse)
{
    struct Case
    {
        HRESULT FakeSaxReader::*refused;
        const char* invoked;
        const char* text;
        size_t calls;
    };
    for (const Case& c : {Case{&FakeSaxReader::contentHandlerResult, "ISAXXMLReader::putContentHandler",
                               "Error configuring content handler", 1},
                          Case{&FakeSaxReader::errorHandlerResult, "ISAXXMLReader::putErrorHandler",
                               "Error configuring error handler", 2}})
    {
        log.clear();
        uninitCalls = 0;
        reader.calls.clear();
        reader.contentHandlerResult = S_OK;
        reader.errorHandlerResult = S_OK;
        reader.*c.refused = E_INVALIDARG;

        EXPECT_EQ(kFailed, parse());

        EXPECT_EQ(c.calls, reader.calls.size());
        EXPECT_EQ(0, reader.references);
        EXPECT_EQ(1, uninitCalls);
        const std::vector<ParsedEntry> entries = ParsedEntries(log);
        ASSERT_EQ(1u, entries.size());
        EXPECT_EQ(EVENTLOG_ERROR_TYPE, log.entries()[0].type);
        EXPECT_EQ(kFunction, entries[0].function);
        EXPECT_EQ(c.invoked, entries[0].invoked);
        EXPECT_EQ(0x80070057u, Code(entries[0]));
        EXPECT_EQ(c.text, entries[0].text);
    }
}

TEST_F(XmlParserReaderCalls, TheFileIsHeldAgainstWritersUntilTheParseIsDone)
{
    TempDirectory directory;
    const std::wstring path = directory.write(L"doc.xml", "<root/>");
    // Another run that begins to replace the file during the parse opens it for delete, as the
    // rename does; the reader must not find the file taken from it.
    auto openForReplacing = [&path]() -> DWORD
    {
        const HANDLE writer = ::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (writer == INVALID_HANDLE_VALUE)
        {
            return ::GetLastError();
        }
        ::CloseHandle(writer);
        return ERROR_SUCCESS;
    };
    DWORD duringParse = ERROR_SUCCESS;
    reader.onParse = [&](const wchar_t*) { duringParse = openForReplacing(); };

    EXPECT_EQ(0u, XmlParser(&manager).invokeParser(path));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), duringParse);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), openForReplacing()) << "let go after the parse";
}

} // namespace
