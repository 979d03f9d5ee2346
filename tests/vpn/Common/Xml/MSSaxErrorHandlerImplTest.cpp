#include "vpn/Common/Xml/MSSaxErrorHandlerImpl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <msxml2.h>

#include <string>
#include <vector>

#include "ComHandlerTests.h"
#include "support/LoggedEntry.h"
#include "support/RecordingEventLog.h"
#include "vpn/Common/Xml/SaxIdentifiers.h"

namespace
{
using ::testing::IsEmpty;

struct ErrorHandlerCase
{
    using Handler = MSSaxErrorHandlerImpl;
    using Interface = ISAXErrorHandler;
    static const IID& iid() { return kIID_ISAXErrorHandler; }
    static std::vector<const IID*> otherIids() { return {&kIID_ISAXContentHandler, &kIID_ISAXXMLReader}; }
};

constexpr char kFile[] = "MSSaxErrorHandlerImpl";
constexpr char kParse[] = "ISAXXMLReader::parse";

class SaxErrorHandlerLogging : public ::testing::Test
{
protected:
    RecordingEventLog log;
    CComHolder<MSSaxErrorHandlerImpl> handler = MakeComObject<MSSaxErrorHandlerImpl>();
};

TEST_F(SaxErrorHandlerLogging, EachNotificationIsLoggedAtItsLevelAndTheReaderGoesOn)
{
    const HRESULT code = static_cast<HRESULT>(0xC00CE014);
    EXPECT_EQ(S_OK, handler->error(nullptr, L"element 'x' is unexpected", code));
    EXPECT_EQ(S_OK, handler->fatalError(nullptr, L"end tag missing", code));
    EXPECT_EQ(S_OK, handler->ignorableWarning(nullptr, L"odd but fine", code));

    EXPECT_EQ((std::vector<LoggedEntry>{
                  Failure('W', "MSSaxErrorHandlerImpl::error", kFile, kParse, 0xC00CE014u,
                          "XML Parser error: element 'x' is unexpected"),
                  Failure('E', "MSSaxErrorHandlerImpl::fatalError", kFile, kParse, 0xC00CE014u,
                          "XML Parser fatal error: end tag missing"),
                  Failure('I', "MSSaxErrorHandlerImpl::ignorableWarning", kFile, kParse, 0xC00CE014u,
                          "XML Parser warning: odd but fine"),
              }),
              LoggedEntries(log));
}

TEST_F(SaxErrorHandlerLogging, NotificationsWithoutAMessageAreNotLogged)
{
    EXPECT_EQ(S_OK, handler->error(nullptr, nullptr, E_FAIL));
    EXPECT_EQ(S_OK, handler->fatalError(nullptr, nullptr, E_FAIL));
    EXPECT_EQ(S_OK, handler->ignorableWarning(nullptr, nullptr, E_FAIL));

    EXPECT_THAT(log.entries(), IsEmpty());
}

TEST_F(SaxErrorHandlerLogging, MessageTextIsNotReadAsAFormat)
{
    EXPECT_EQ(S_OK, handler->fatalError(nullptr, L"100% wrong %s %n", E_FAIL));

    EXPECT_EQ(std::vector<LoggedEntry>{Failure('E', "MSSaxErrorHandlerImpl::fatalError", kFile, kParse,
                                               0x80004005u, "XML Parser fatal error: 100% wrong %s %n")},
              LoggedEntries(log));
}
} // namespace

namespace comhandlertests
{
INSTANTIATE_TYPED_TEST_SUITE_P(SaxErrorHandler, ComHandlerReferences, ErrorHandlerCase);
}
