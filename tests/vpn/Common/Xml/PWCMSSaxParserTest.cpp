#include <gtest/gtest.h>

#include <windows.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "RecordingXmlMgr.h"
#include "vpn/Common/Utility/Win/UniqueHandle.h"
#include "vpn/Common/Xml/PWCMSSaxParser.h"

namespace
{
class PWCMSSaxParserEvents : public ::testing::Test
{
protected:
    PWCMSSaxParserEvents() : handler(new PWCMSSaxParser(&manager)) { handler->AddRef(); }

    HRESULT start(const std::wstring& name)
    {
        return handler->startElement(L"urn:x", 5, name.c_str(), static_cast<int>(name.size()), L"p:x", 3,
                                     nullptr);
    }

    RecordingXmlMgr manager;
    CComHolder<PWCMSSaxParser> handler;
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

TEST_F(PWCMSSaxParserEvents, ElementsBeginningWithQuStopTheParseAfterBeingForwarded)
{
    for (const wchar_t* name : {L"quit", L"qu", L"queue"})
    {
        EXPECT_EQ(E_FAIL, start(name)) << name;
    }
    for (const wchar_t* name : {L"q", L"Quit", L"QU", L"aqu", L"uq", L""})
    {
        EXPECT_EQ(S_OK, start(name)) << name;
    }
    EXPECT_EQ(9u, manager.events.size());
    EXPECT_EQ(L"start quit", manager.events[0]);
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

// A manager that fails: its exceptions must not unwind through the platform reader.
class ThrowingXmlMgr : public XmlMgr
{
public:
    void startElement(const std::wstring&) override { throw std::bad_alloc(); }
    void endElement(const std::wstring&) override { throw std::runtime_error("end"); }
    void setElementValue(const std::wstring&) override { throw 1; }
    void addAttribute(const std::wstring&, const std::wstring&) override {}
};

TEST(PWCMSSaxParserFailures, ManagerExceptionsBecomeFailuresThatStopTheParse)
{
    ThrowingXmlMgr manager;
    CComHolder<PWCMSSaxParser> handler(new PWCMSSaxParser(&manager));
    handler->AddRef();

    EXPECT_EQ(E_OUTOFMEMORY, handler->startElement(L"", 0, L"a", 1, L"a", 1, nullptr));
    EXPECT_EQ(E_FAIL, handler->endElement(L"", 0, L"a", 1, L"a", 1));
    EXPECT_EQ(E_FAIL, handler->characters(L"x", 1));
}
} // namespace
