// Seeded random argument lists through the argument rules, the policy document and the
// platform's SAX reader: every document must parse and hold exactly what an independent model of
// the rules accepts. Ten thousand lists go through the writer in memory, a few hundred more the
// whole way through GenerateLocalPolicy and the policy file. A failure names the list's seed and
// shows the list.

#include <gtest/gtest.h>

#include <windows.h>

#include <msxml2.h>

#include <algorithm>
#include <cstdint>
#include <iomanip>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "RecordingXmlMgr.h"
#include "support/LoggedEntry.h"
#include "support/PolicyDocument.h"
#include "support/PolicyFolderRedirect.h"
#include "support/RecordingEventLog.h"
#include "vpn/Common/Platform/ComObject.h"
#include "vpn/Common/Platform/StringConvert.h"
#include "vpn/Common/Platform/UniqueHandle.h"
#include "vpn/Common/Xml/LocalPWPolicyArguments.h"
#include "vpn/Common/Xml/MSSaxErrorHandlerImpl.h"
#include "vpn/Common/Xml/PWCMSSaxParser.h"
#include "vpn/Common/Xml/PWCSaxWriter.h"
#include "vpn/Common/Xml/SaxIdentifiers.h"
#include "vpn/Common/Xml/XmlLocalPWPolMgr.h"
#include "vpn/Common/Xml/XmlParser.h"

namespace
{
constexpr std::uint32_t kSeed = 0x5EED2026;

const wchar_t kNamespace[] = L"http://www.veskar.com/pathweave/LocalPolicy";
const wchar_t kServerList[] = L"AuthorizedServerList";

// --- The argument rules, written out again for the model -----------------------------------

struct Rule
{
    std::wstring abbreviation;
    std::wstring policy;
    bool updateGroup;
    std::vector<std::wstring> allowed; // empty: free text
};

const std::vector<Rule>& Rules()
{
    static const std::vector<Rule> rules = {
        {L"fm", L"FipsMode", false, {L"false", L"true"}},
        {L"bd", L"BypassDownloader", false, {L"false", L"true"}},
        {L"rwl", L"RestrictWebLaunch", false, {L"false", L"true"}},
        {L"sct", L"StrictCertificateTrust", false, {L"false", L"true"}},
        {L"ecc", L"EnableCRLCheck", false, {L"true", L"false"}},
        {L"rpc",
         L"RestrictPreferenceCaching",
         false,
         {L"false", L"Credentials", L"Thumbprints", L"CredentialsAndThumbprints", L"All"}},
        {L"rtp", L"RestrictTunnelProtocols", false, {L"false", L"TLS", L"IPSec"}},
        {L"efn", L"ExcludeFirefoxNSSCertStore", false, {L"false", L"true"}},
        {L"epf", L"ExcludePemFileCertStore", false, {L"false", L"true"}},
        {L"emn", L"ExcludeMacNativeCertStore", false, {L"false", L"true"}},
        {L"ewn", L"ExcludeWinNativeCertStore", false, {L"false", L"true"}},
        {L"upsu", L"AllowSoftwareUpdatesFromAnyServer", true, {L"true", L"false"}},
        {L"upcu", L"AllowComplianceModuleUpdatesFromAnyServer", true, {L"true", L"false"}},
        {L"upvp", L"AllowVPNProfileUpdatesFromAnyServer", true, {L"true", L"false"}},
        {L"upip", L"AllowZKRProfileUpdatesFromAnyServer", true, {L"true", L"false"}},
        {L"upsp", L"AllowServiceProfileUpdatesFromAnyServer", true, {L"true", L"false"}},
        {L"upal", kServerList, true, {}},
    };
    return rules;
}

const Rule* FindRule(const std::wstring& abbreviation)
{
    for (const Rule& rule : Rules())
    {
        if (rule.abbreviation == abbreviation)
        {
            return &rule;
        }
    }
    return nullptr;
}

wchar_t AsciiLower(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool SameIgnoringAsciiCase(const std::wstring& a, const std::wstring& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](wchar_t x, wchar_t y) { return AsciiLower(x) == AsciiLower(y); });
}

// XML 1.0 Char, by code point, less carriage return (a reader turns it into a line feed).
bool ReadsBackUnchanged(const std::wstring& text)
{
    for (size_t i = 0; i < text.size(); ++i)
    {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF)
        {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        }
        const bool isChar = c == 0x9 || c == 0xA || (c >= 0x20 && c <= 0xD7FF) ||
                            (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
        if (!isChar)
        {
            return false;
        }
    }
    return true;
}

std::vector<std::wstring> ServerNames(const std::wstring& list)
{
    std::vector<std::wstring> names(1);
    for (const wchar_t c : list)
    {
        if (c == L',' || c == L';')
        {
            names.emplace_back();
        }
        else
        {
            names.back() += c;
        }
    }
    names.erase(std::remove(names.begin(), names.end(), std::wstring()), names.end());
    return names;
}

// An argument list; a null entry is marked by null[i].
struct Arguments
{
    std::vector<std::wstring> text;
    std::vector<bool> null;
};

struct Outcome
{
    std::map<std::wstring, std::wstring> top;
    std::map<std::wstring, std::wstring> update;
    // One line per warning: "invalid", "undefined", "not allowed <policy>", "duplicate <policy>".
    std::vector<std::string> warnings;
};

std::string Narrow(const std::wstring& ascii)
{
    return std::string(ascii.begin(), ascii.end());
}

Outcome ApplyRules(const Arguments& arguments)
{
    Outcome outcome;
    for (size_t i = 0; i < arguments.text.size(); ++i)
    {
        if (arguments.null[i])
        {
            continue;
        }
        const std::wstring& argument = arguments.text[i];
        const size_t equals = argument.find(L'=');
        if (equals == std::wstring::npos)
        {
            outcome.warnings.push_back("invalid");
            continue;
        }
        const std::wstring value = argument.substr(equals + 1);
        if (value.empty())
        {
            continue;
        }
        const Rule* rule = FindRule(argument.substr(0, equals));
        if (rule == nullptr)
        {
            outcome.warnings.push_back("undefined");
            continue;
        }
        std::wstring stored;
        if (rule->allowed.empty())
        {
            stored = ReadsBackUnchanged(value) ? value : std::wstring();
        }
        for (const std::wstring& allowed : rule->allowed)
        {
            if (stored.empty() && SameIgnoringAsciiCase(value, allowed))
            {
                stored = allowed;
            }
        }
        if (stored.empty())
        {
            outcome.warnings.push_back("not allowed " + Narrow(rule->policy));
            continue;
        }
        auto& values = rule->updateGroup ? outcome.update : outcome.top;
        if (values.count(rule->policy) != 0)
        {
            outcome.warnings.push_back("duplicate " + Narrow(rule->policy));
            continue;
        }
        values[rule->policy] = stored;
    }
    return outcome;
}

bool UnderWine()
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The text that the reader reports for a server name. Wine's SAX reader drops the part of a
// CDATA section that follows its last line break ("<![CDATA[a\nb]]>" reads as "a\n"); Windows
// reports the whole section. The writer puts text holding "&", "<" or "]]>" into sections that
// end after each "]]" of a "]]>".
std::wstring ReaderText(const std::wstring& name)
{
    static const bool wine = UnderWine();
    if (!wine || name.find(L'\n') == std::wstring::npos ||
        (name.find_first_of(L"&<") == std::wstring::npos && name.find(L"]]>") == std::wstring::npos))
    {
        return name;
    }
    std::wstring read;
    size_t start = 0;
    while (start < name.size())
    {
        const size_t split = name.find(L"]]>", start);
        const size_t end = split == std::wstring::npos ? name.size() : split + 2;
        const std::wstring section = name.substr(start, end - start);
        const size_t lastBreak = section.rfind(L'\n');
        read += lastBreak == std::wstring::npos ? section : section.substr(0, lastBreak + 1);
        start = end;
    }
    return read;
}

// The reader's events for the file of an outcome, in RecordingXmlMgr's form.
std::vector<std::wstring> ExpectedEvents(const Outcome& outcome)
{
    std::vector<std::wstring> events = {
        L"start PathweaveLocalPolicy", std::wstring(L"attr pwversion=") + kPolicyVersionW,
        std::wstring(L"attr schemaLocation=") + kNamespace + L" PathweaveLocalPolicy.xsd"};
    const auto element = [&events](const std::wstring& name, const std::wstring& text) {
        events.insert(events.end(), {L"start " + name, L"text " + text, L"end " + name});
    };
    for (const auto& entry : outcome.top)
    {
        element(entry.first, entry.second);
    }
    if (!outcome.update.empty())
    {
        events.push_back(L"start UpdatePolicy");
        for (const auto& entry : outcome.update)
        {
            if (entry.first != kServerList)
            {
                element(entry.first, entry.second);
                continue;
            }
            events.push_back(L"start " + entry.first);
            for (const std::wstring& name : ServerNames(entry.second))
            {
                element(L"ServerName", ReaderText(name));
            }
            events.push_back(L"end " + entry.first);
        }
        events.push_back(L"end UpdatePolicy");
    }
    events.push_back(L"end PathweaveLocalPolicy");
    return events;
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix)
{
    return text.compare(0, wcslen(prefix), prefix) == 0;
}

// The reader's events without the line breaks between elements (text that does not stand
// between the start and end tag of one element), and with each element's attributes sorted, as
// readers may list them in any order.
std::vector<std::wstring> ContentEvents(const std::vector<std::wstring>& events)
{
    std::vector<std::wstring> result;
    for (size_t i = 0; i < events.size(); ++i)
    {
        if (StartsWith(events[i], L"text "))
        {
            const bool inLeaf = i > 0 && i + 1 < events.size() && StartsWith(events[i - 1], L"start ") &&
                                events[i + 1] == L"end " + events[i - 1].substr(6);
            if (!inLeaf)
            {
                continue;
            }
        }
        result.push_back(events[i]);
    }
    for (auto it = result.begin(); it != result.end();)
    {
        const auto end =
            std::find_if(it, result.end(), [](const std::wstring& e) { return !StartsWith(e, L"attr "); });
        std::sort(it, end);
        it = end == result.end() ? end : end + 1;
    }
    return result;
}

// The warnings that GenerateLocalPolicy logged, in the model's form.
std::vector<std::string> LoggedWarnings(const RecordingEventLog& log)
{
    static const std::string kInvalid = "ignoring invalid argument ";
    static const std::string kUndefined = "ignoring undefined abbreviation ";
    static const std::string kNotAllowed = " is not an allowed value for policy ";
    static const std::string kDuplicate = "ignoring duplicate policy arg ";
    static const std::string kDuplicateEnd = ". The first value will be used";
    std::vector<std::string> warnings;
    for (const LoggedEntry& entry : LoggedEntries(log))
    {
        const std::string& text = entry.text;
        const std::string kind =
            entry == Message('W', "XmlLocalPWPolMgr::GenerateLocalPolicy", "XmlLocalPWPolMgr", text)
                ? ""
                : "(not a warning of the arguments) ";
        if (text.compare(0, kInvalid.size(), kInvalid) == 0)
        {
            warnings.push_back(kind + "invalid");
        }
        else if (text.compare(0, kUndefined.size(), kUndefined) == 0)
        {
            warnings.push_back(kind + "undefined");
        }
        else if (text.compare(0, kDuplicate.size(), kDuplicate) == 0 && text.size() >= kDuplicateEnd.size())
        {
            warnings.push_back(
                kind + "duplicate " +
                text.substr(kDuplicate.size(), text.size() - kDuplicate.size() - kDuplicateEnd.size()));
        }
        else if (text.rfind(kNotAllowed) != std::string::npos)
        {
            warnings.push_back(kind + "not allowed " +
                               text.substr(text.rfind(kNotAllowed) + kNotAllowed.size()));
        }
        else
        {
            warnings.push_back(kind + "unexpected: " + ::testing::PrintToString(entry));
        }
    }
    return warnings;
}

// --- Random argument lists --------------------------------------------------------------------

class ArgumentSource
{
public:
    explicit ArgumentSource(std::uint32_t seed) : random(seed) {}

    Arguments next()
    {
        Arguments arguments;
        const int count = below(11);
        for (int i = 0; i < count; ++i)
        {
            const bool null = below(30) == 0;
            arguments.text.push_back(null ? std::wstring() : argument());
            arguments.null.push_back(null);
        }
        if (below(2) == 0)
        {
            // As the entry point passes them: the user's arguments, then fm=true.
            arguments.text.push_back(L"fm=true");
            arguments.null.push_back(false);
        }
        return arguments;
    }

private:
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }

    template <typename T>
    const T& pick(const std::vector<T>& from)
    {
        return from[static_cast<size_t>(below(static_cast<int>(from.size())))];
    }

    std::wstring argument()
    {
        const int kind = below(100);
        const Rule& rule = Rules()[static_cast<size_t>(below(static_cast<int>(Rules().size())))];
        if (kind < 6)
        {
            return below(2) == 0 ? rule.abbreviation : text(4, false); // no "="
        }
        if (kind < 10)
        {
            return rule.abbreviation + L"="; // empty value
        }
        if (kind < 20)
        {
            return unknownAbbreviation(rule) + L"=" + goodOrBadValue(rule);
        }
        if (kind < 55)
        {
            return L"upal=" + serverList();
        }
        return rule.abbreviation + L"=" + (rule.allowed.empty() ? serverList() : goodOrBadValue(rule));
    }

    std::wstring unknownAbbreviation(const Rule& rule)
    {
        switch (below(4))
        {
        case 0:
            return anyCase(rule.abbreviation); // may come out right by chance
        case 1:
            return rule.abbreviation + pick(std::vector<std::wstring>{L"x", L" ", L"_"});
        case 2:
            return std::wstring();
        default:
            return text(3, false);
        }
    }

    std::wstring goodOrBadValue(const Rule& rule)
    {
        static const std::vector<std::wstring> bad = {
            L"yes", L"no",   L"1",          L"0",         L" true", L"true ", L"truee",
            L"tru", L"TLS1", L"Credential", L"ipsec;tls", L"none",  L"All=",  L"fals\u00E9"};
        switch (below(5))
        {
        case 0:
            return pick(bad);
        case 1:
            return text(5, true);
        case 2:
        {
            // A value that another policy allows.
            const Rule& other = Rules()[static_cast<size_t>(below(static_cast<int>(Rules().size()) - 1))];
            return other.allowed.empty() ? pick(bad) : anyCase(pick(other.allowed));
        }
        default:
            return rule.allowed.empty() ? serverList() : anyCase(pick(rule.allowed));
        }
    }

    std::wstring anyCase(const std::wstring& word)
    {
        std::wstring result = word;
        for (wchar_t& c : result)
        {
            if (below(2) == 0)
            {
                c = c >= L'a' && c <= L'z'   ? static_cast<wchar_t>(c - L'a' + L'A')
                    : c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a')
                                             : c;
            }
        }
        return result;
    }

    std::wstring serverList()
    {
        static const std::vector<std::wstring> separators = {L",", L";", L",,", L";,", L",;;"};
        std::wstring list = below(6) == 0 ? pick(separators) : std::wstring();
        const int names = below(5);
        for (int i = 0; i < names; ++i)
        {
            if (i > 0)
            {
                list += pick(separators);
            }
            list += text(6, true);
        }
        if (below(6) == 0)
        {
            list += pick(separators);
        }
        return list;
    }

    // Up to maxPieces pieces of server-name text; "=" only when allowEquals.
    std::wstring text(int maxPieces, bool allowEquals)
    {
        static const std::vector<std::wstring> pieces = {L"a",
                                                         L"Z",
                                                         L"7",
                                                         L".",
                                                         L"-",
                                                         L" ",
                                                         L"vpn",
                                                         L"example.com",
                                                         L"&",
                                                         L"<",
                                                         L">",
                                                         L"]",
                                                         L"]]",
                                                         L"]]>",
                                                         L"<![CDATA[",
                                                         L"&amp;",
                                                         L"\"",
                                                         L"'",
                                                         L"\t",
                                                         L"\n",
                                                         L"\u00E9",
                                                         L"\u00DF",
                                                         L"\u03A9",
                                                         L"\u0416",
                                                         L"\u4E2D",
                                                         L"\uFFFD",
                                                         L"\uFDD0",
                                                         L"\xD83D\xDE00",
                                                         L"\xD800\xDC00",
                                                         L"\xDBFF\xDFFF"};
        // Characters that cannot be written so that they read back the same. A lone surrogate may
        // still meet its partner from the next piece, which the model has to see through.
        static const std::vector<std::wstring> unfit = {L"\x01",   L"\x0B",   L"\x1F",   L"\r",    L"\r\n",
                                                        L"\xFFFE", L"\xFFFF", L"\xD800", L"\xDC00"};
        std::wstring result;
        const int count = below(maxPieces + 1);
        for (int i = 0; i < count; ++i)
        {
            const int roll = below(100);
            result += roll < 3 ? pick(unfit) : (roll < 6 && allowEquals ? L"=" : pick(pieces));
        }
        return result;
    }

    std::mt19937 random;
};

// The list for a failure message: each argument quoted, characters other than printable ASCII
// as \uXXXX (UTF-16 units), null entries as null.
std::string Show(const Arguments& arguments)
{
    std::ostringstream out;
    out << std::hex << std::uppercase << std::setfill('0');
    for (size_t i = 0; i < arguments.text.size(); ++i)
    {
        out << (i == 0 ? " " : ", ");
        if (arguments.null[i])
        {
            out << "null";
            continue;
        }
        out << '"';
        for (const wchar_t c : arguments.text[i])
        {
            if (c >= 0x20 && c < 0x7F && c != L'"' && c != L'\\')
            {
                out << static_cast<char>(c);
            }
            else
            {
                out << "\\u" << std::setw(4) << static_cast<unsigned>(c);
            }
        }
        out << '"';
    }
    return out.str();
}

// The list as GenerateLocalPolicy takes it; the array stays valid (not null) for an empty list.
std::vector<const wchar_t*> Pointers(const Arguments& arguments)
{
    std::vector<const wchar_t*> pointers;
    for (size_t i = 0; i < arguments.text.size(); ++i)
    {
        pointers.push_back(arguments.null[i] ? nullptr : arguments.text[i].c_str());
    }
    pointers.push_back(nullptr);
    return pointers;
}

std::string ShowEvents(const std::vector<std::wstring>& events)
{
    std::string text;
    for (const std::wstring& event : events)
    {
        text += "  [" + ToUtf8(event) + "]\n";
    }
    return text;
}

// The platform's SAX reader, created once, parsing documents held in memory (the product reads
// only files, and a reader per document would make ten thousand of them too slow). Events go to
// a RecordingXmlMgr through the product's content handler.
class MemoryReader
{
public:
    MemoryReader()
    {
        entered = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        if (FAILED(::CoCreateInstance(kCLSID_SAXXMLReader60, nullptr, CLSCTX_INPROC_SERVER,
                                      kIID_ISAXXMLReader, reinterpret_cast<void**>(reader.put()))))
        {
            (void)::CoCreateInstance(kCLSID_SAXXMLReader, nullptr, CLSCTX_INPROC_SERVER, kIID_ISAXXMLReader,
                                     reinterpret_cast<void**>(reader.put()));
        }
        if (reader)
        {
            contentHandler = MakeComObject<PWCMSSaxParser>(&recorder);
            errorHandler = MakeComObject<MSSaxErrorHandlerImpl>();
            ready = SUCCEEDED(reader->putContentHandler(contentHandler.get())) &&
                    SUCCEEDED(reader->putErrorHandler(errorHandler.get()));
        }
    }
    ~MemoryReader()
    {
        reader.reset();
        contentHandler.reset();
        errorHandler.reset();
        if (entered)
        {
            ::CoUninitialize();
        }
    }
    MemoryReader(const MemoryReader&) = delete;
    MemoryReader& operator=(const MemoryReader&) = delete;

    bool ok() const { return ready; }

    // The reader's result for document; the events are in recorder.
    HRESULT parse(const std::wstring& document)
    {
        recorder.events.clear();
        VARIANT input;
        ::VariantInit(&input);
        input.vt = VT_BSTR;
        input.bstrVal = ::SysAllocStringLen(document.data(), static_cast<UINT>(document.size()));
        const HRESULT hr = input.bstrVal == nullptr ? E_OUTOFMEMORY : reader->parse(input);
        ::VariantClear(&input);
        return hr;
    }

    RecordingXmlMgr recorder;

private:
    bool entered = false;
    bool ready = false;
    CComHolder<ISAXXMLReader> reader;
    CComHolder<PWCMSSaxParser> contentHandler;
    CComHolder<MSSaxErrorHandlerImpl> errorHandler;
};

// Hands count lists, drawn from the seeds from first on, to check: each as GenerateLocalPolicy takes
// it, with its length and the outcome that the rules give, after the log is emptied. A failure names
// the list's seed; the first fatal one ends the run.
template <class Check>
void ForEachList(std::uint32_t first, int count, RecordingEventLog& log, Check check)
{
    for (int i = 0; i < count && !::testing::Test::HasFatalFailure(); ++i)
    {
        const std::uint32_t seed = first + static_cast<std::uint32_t>(i);
        const Arguments arguments = ArgumentSource(seed).next();
        SCOPED_TRACE("list seed " + std::to_string(seed) +
                     " (ArgumentSource(seed).next()):" + Show(arguments));
        log.clear();
        check(Pointers(arguments), static_cast<int>(arguments.text.size()), ApplyRules(arguments));
    }
}
} // namespace

TEST(PolicyArgumentsProperty, RandomListsReadBackAsTheRulesSay)
{
    RecordingEventLog log;
    MemoryReader reader;
    ASSERT_TRUE(reader.ok());
    const auto check = [&](const std::vector<const wchar_t*>& pointers, int count, const Outcome& expected)
    {
        const ParsedPolicyArguments arguments = LocalPWPolicyArguments::read(pointers.data(), count);
        LocalPWPolicyArguments::logWarnings(arguments);
        const PolicyValues& top = arguments.top;
        const PolicyValues& update = arguments.update;
        ASSERT_EQ(expected.warnings, LoggedWarnings(log));
        ASSERT_EQ(expected.top, top);
        ASSERT_EQ(expected.update, update);

        PWCSaxWriter writer(L"", XmlLocalPWPolMgr::kPolicyFileName, L"PathweaveLocalPolicy", {});
        ASSERT_EQ(0u, XmlLocalPWPolMgr::buildLocalPolicy(writer, top, update));
        const std::wstring document = writer.getDocument();
        ASSERT_EQ(S_OK, reader.parse(document)) << ToUtf8(document);
        const std::vector<std::wstring> seen = ContentEvents(reader.recorder.normalized());
        const std::vector<std::wstring> wanted = ExpectedEvents(expected);
        ASSERT_EQ(wanted, seen) << "expected:\n" << ShowEvents(wanted) << "read:\n" << ShowEvents(seen);
    };
    ForEachList(kSeed, 10000, log, check);
}

// The whole way, as the tool goes: arguments to the policy file on disk, read back by the
// product's reader driver and by the policy manager itself.
TEST(PolicyArgumentsProperty, RandomListsThroughThePolicyFileReadBackAsTheRulesSay)
{
    PolicyFolderRedirect folder;
    RecordingEventLog log;
    const auto check = [&](const std::vector<const wchar_t*>& pointers, int count, const Outcome& expected)
    {
        XmlLocalPWPolMgr manager;
        ASSERT_TRUE(manager.GenerateLocalPolicy(pointers.data(), count));
        ASSERT_EQ(expected.warnings, LoggedWarnings(log));

        RecordingXmlMgr recorder;
        XmlParser parser(&recorder);
        ASSERT_EQ(0u, parser.invokeParser(ReadFileBytes(folder.policyFile())));
        const std::vector<std::wstring> seen = ContentEvents(recorder.normalized());
        const std::vector<std::wstring> wanted = ExpectedEvents(expected);
        ASSERT_EQ(wanted, seen) << "expected:\n" << ShowEvents(wanted) << "read:\n" << ShowEvents(seen);

        ASSERT_EQ(0u, manager.loadLocalPolicy());
        const LocalPWPolicyInfo record = manager.getLocalPolicyInfo();
        const auto fips = expected.top.find(L"FipsMode");
        EXPECT_EQ(fips != expected.top.end() && fips->second == L"true", record.getFipsMode());
        std::vector<std::wstring> servers;
        bool readWhole = true;
        const auto list = expected.update.find(kServerList);
        if (list != expected.update.end())
        {
            for (const std::wstring& name : ServerNames(list->second))
            {
                servers.push_back(ReaderText(name));
                readWhole &= servers.back() == name;
            }
        }
        ASSERT_EQ(servers, record.getAuthorizedServers());

        // Kept with nothing given, the file comes back byte for byte, where the reader reads it whole.
        if (!readWhole)
        {
            return;
        }
        const std::string written = ReadFileBytes(folder.policyFile());
        ParsedPolicyArguments kept;
        std::wstring cause;
        ASSERT_TRUE(LocalPWPolicyArguments::keep(manager.getFiledPolicies(), kept, cause)) << ToUtf8(cause);
        ASSERT_TRUE(XmlLocalPWPolMgr::writeLocalPolicy(kept.top, kept.update));
        ASSERT_EQ(written, ReadFileBytes(folder.policyFile()));
    };
    ForEachList(kSeed + 1000000, 300, log, check);
}
