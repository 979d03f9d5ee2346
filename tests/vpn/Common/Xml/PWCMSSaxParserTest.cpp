#include "vpn/Common/Xml/PWCMSSaxParser.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "RecordingXmlMgr.h"
#include "vpn/Common/Platform/ComObject.h"

namespace
{
class PWCMSSaxParserEvents : public ::testing::Test
{
protected:
    HRESULT start(const std::wstring& name)
    {
        return handler->startElement(L"urn:x", 5, name.c_str(), static_cast<int>(name.size()), L"p:x", 3,
                                     nullptr);
    }

    RecordingXmlMgr manager;
    CComHolder<PWCMSSaxParser> handler = MakeComObject<PWCMSSaxParser>(&manager);
};

TEST_F(PWCMSSaxParserEvents, ForwardsExactlyTheGivenCharacters)
{
    // The reader's strings are not terminated: only the given counts belong to the event.
    EXPECT_EQ(S_OK, handler->startElement(L"urn:x", 5, L"rootXYZ", 4, L"p:rootXYZ", 6, nullptr));
    EXPECT_EQ(S_OK, handler->characters(L"abcdef", 3));
    EXPECT_EQ(S_OK, handler->characters(L" \r\n", 1));
    EXPECT_EQ(S_OK, handler->endElement(L"urn:x", 5, L"rootXYZ", 4, L"p:rootXYZ", 6));

    EXPECT_EQ((std::vector<std::wstring>{L"start root", L"text abc", L"text  ", L"end root"}),
              manager.events);
}

TEST_F(PWCMSSaxParserEvents, OtherEventsReachNoCallback)
{
    EXPECT_EQ(S_OK, handler->startDocument());
    EXPECT_EQ(S_OK, handler->startPrefixMapping(L"p", 1, L"urn:x", 5));
    EXPECT_EQ(S_OK, handler->ignorableWhitespace(L"  ", 2));
    EXPECT_EQ(S_OK, handler->processingInstruction(L"pi", 2, L"data", 4));
    EXPECT_EQ(S_OK, handler->skippedEntity(L"ent", 3));
    EXPECT_EQ(S_OK, handler->endPrefixMapping(L"p", 1));
    EXPECT_EQ(S_OK, handler->endDocument());

    EXPECT_TRUE(manager.events.empty());
}

// Element names, and whether they stop the parse: only a local name that begins with "qu" does.
struct ElementName
{
    const wchar_t* name;
    HRESULT expected;
};

class PWCMSSaxParserStop : public PWCMSSaxParserEvents, public ::testing::WithParamInterface<ElementName>
{
};

TEST_P(PWCMSSaxParserStop, ElementIsForwardedBeforeItsNameDecides)
{
    const ElementName& element = GetParam();
    EXPECT_EQ(element.expected, start(element.name));
    EXPECT_EQ(std::vector<std::wstring>{L"start " + std::wstring(element.name)}, manager.events);
}

INSTANTIATE_TEST_SUITE_P(BeginningWithQu, PWCMSSaxParserStop,
                         ::testing::Values(ElementName{L"quit", E_FAIL}, ElementName{L"qu", E_FAIL},
                                           ElementName{L"queue", E_FAIL}));
INSTANTIATE_TEST_SUITE_P(Others, PWCMSSaxParserStop,
                         ::testing::Values(ElementName{L"q", S_OK}, ElementName{L"Quit", S_OK},
                                           ElementName{L"QU", S_OK}, ElementName{L"aqu", S_OK},
                                           ElementName{L"uq", S_OK}, ElementName{L"", S_OK}));

// A manager that fails: its exceptions must not unwind through the platform reader.
class ThrowingXmlMgr : public XmlMgr
{
public:
    explicit ThrowingXmlMgr(std::function<void()> fail) : m_fail(std::move(fail)) {}

    void startElement(const std::wstring&) override { m_fail(); }
    void endElement(const std::wstring&) override { m_fail(); }
    void setElementValue(const std::wstring&) override { m_fail(); }
    void addAttribute(const std::wstring&, const std::wstring&) override { m_fail(); }

private:
    std::function<void()> m_fail;
};

struct ManagerFailure
{
    const char* name;
    std::function<void()> fail;
    HRESULT expected;
};

class PWCMSSaxParserFailures : public ::testing::TestWithParam<ManagerFailure>
{
};

TEST_P(PWCMSSaxParserFailures, ManagerExceptionsBecomeFailuresThatStopTheParse)
{
    ThrowingXmlMgr manager(GetParam().fail);
    const auto handler = MakeComObject<PWCMSSaxParser>(&manager);

    EXPECT_EQ(GetParam().expected, handler->startElement(L"", 0, L"a", 1, L"a", 1, nullptr));
    EXPECT_EQ(GetParam().expected, handler->endElement(L"", 0, L"a", 1, L"a", 1));
    EXPECT_EQ(GetParam().expected, handler->characters(L"x", 1));
}

INSTANTIATE_TEST_SUITE_P(
    Exceptions, PWCMSSaxParserFailures,
    ::testing::Values(ManagerFailure{"OutOfMemory", [] { throw std::bad_alloc(); }, E_OUTOFMEMORY},
                      ManagerFailure{"StandardException", [] { throw std::runtime_error("end"); }, E_FAIL},
                      ManagerFailure{"AnyOtherValue", [] { throw 1; }, E_FAIL}),
    [](const ::testing::TestParamInfo<ManagerFailure>& info) { return std::string(info.param.name); });
} // namespace
