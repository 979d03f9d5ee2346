#include <gtest/gtest.h>

#include <windows.h>
#include <msxml2.h>

#include <string>

#include "support/RecordingEventLog.h"
#include "vpn/Common/Xml/MSSaxErrorHandlerImpl.h"
#include "vpn/Common/Xml/SaxIdentifiers.h"

namespace
{
class ObservedErrorHandler : public MSSaxErrorHandlerImpl
{
public:
    explicit ObservedErrorHandler(bool& destroyed) : m_destroyed(destroyed) {}

protected:
    ~ObservedErrorHandler() override { m_destroyed = true; }

private:
    bool& m_destroyed;
};

TEST(SaxErrorHandlerReferences, CountStartsAtZeroAndTheLastReleaseDeletes)
{
    bool destroyed = false;
    MSSaxErrorHandlerImpl* handler = new ObservedErrorHandler(destroyed);

    EXPECT_EQ(1u, handler->AddRef());
    EXPECT_EQ(2u, handler->AddRef());
    EXPECT_EQ(1u, handler->Release());
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(0u, handler->Release());
    EXPECT_TRUE(destroyed);
}

TEST(SaxErrorHandlerQueryInterface, HandsOutItselfForIUnknownAndItsOwnInterface)
{
    bool destroyed = false;
    MSSaxErrorHandlerImpl* handler = new ObservedErrorHandler(destroyed);
    handler->AddRef();

    for (const IID* iid : {&IID_IUnknown, &kIID_ISAXErrorHandler})
    {
        void* object = nullptr;
        EXPECT_EQ(S_OK, handler->QueryInterface(*iid, &object));
        EXPECT_EQ(static_cast<ISAXErrorHandler*>(handler), object);
    }
    EXPECT_EQ(4u, handler->AddRef());

    for (const IID* iid : {&kIID_ISAXContentHandler, &kIID_ISAXXMLReader})
    {
        void* object = handler;
        EXPECT_EQ(E_NOINTERFACE, handler->QueryInterface(*iid, &object));
        EXPECT_EQ(nullptr, object);
    }
    EXPECT_EQ(E_POINTER, handler->QueryInterface(IID_IUnknown, nullptr));
    EXPECT_EQ(5u, handler->AddRef());

    while (handler->Release() != 0)
    {
    }
    EXPECT_TRUE(destroyed);
}

class SaxErrorHandlerLogging : public ::testing::Test
{
protected:
    SaxErrorHandlerLogging() : handler(new MSSaxErrorHandlerImpl()) { handler->AddRef(); }
    ~SaxErrorHandlerLogging() override { handler->Release(); }

    RecordingEventLog log;
    MSSaxErrorHandlerImpl* handler;
};

TEST_F(SaxErrorHandlerLogging, EachNotificationIsLoggedAtItsLevelAndTheReaderGoesOn)
{
    const HRESULT code = static_cast<HRESULT>(0xC00CE014);
    EXPECT_EQ(S_OK, handler->error(nullptr, L"element 'x' is unexpected", code));
    EXPECT_EQ(S_OK, handler->fatalError(nullptr, L"end tag missing", code));
    EXPECT_EQ(S_OK, handler->ignorableWarning(nullptr, L"odd but fine", code));

    struct Expected
    {
        const char* function;
        WORD type;
        const char* text;
    };
    const Expected expected[] = {
        {"MSSaxErrorHandlerImpl::error", EVENTLOG_WARNING_TYPE,
         "XML Parser error: element 'x' is unexpected"},
        {"MSSaxErrorHandlerImpl::fatalError", EVENTLOG_ERROR_TYPE, "XML Parser fatal error: end tag missing"},
        {"MSSaxErrorHandlerImpl::ignorableWarning", EVENTLOG_INFORMATION_TYPE,
         "XML Parser warning: odd but fine"},
    };
    ASSERT_EQ(3u, log.entries().size());
    for (size_t i = 0; i < 3; ++i)
    {
        const ParsedEntry entry = ParseEntry(log.entries()[i].text);
        EXPECT_EQ(expected[i].type, log.entries()[i].type);
        EXPECT_EQ(ReturnCodeEntry(expected[i].function, "MSSaxErrorHandlerImpl", entry.line,
                                  "ISAXXMLReader::parse", 0xC00CE014u, entry.description, expected[i].text),
                  log.entries()[i].text);
    }
}

TEST_F(SaxErrorHandlerLogging, NotificationsWithoutAMessageAreNotLogged)
{
    EXPECT_EQ(S_OK, handler->error(nullptr, nullptr, E_FAIL));
    EXPECT_EQ(S_OK, handler->fatalError(nullptr, nullptr, E_FAIL));
    EXPECT_EQ(S_OK, handler->ignorableWarning(nullptr, nullptr, E_FAIL));

    EXPECT_TRUE(log.entries().empty());
}

TEST_F(SaxErrorHandlerLogging, MessageTextIsNotReadAsAFormat)
{
    EXPECT_EQ(S_OK, handler->fatalError(nullptr, L"100% wrong %s %n", E_FAIL));

    ASSERT_EQ(1u, log.entries().size());
    EXPECT_EQ("XML Parser fatal error: 100% wrong %s %n", ParseEntry(log.entries()[0].text).text);
}
} // namespace
