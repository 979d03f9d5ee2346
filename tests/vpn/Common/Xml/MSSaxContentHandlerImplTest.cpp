#include "vpn/Common/Xml/MSSaxContentHandlerImpl.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <msxml2.h>

#include <vector>

#include "ComHandlerTests.h"
#include "vpn/Common/Xml/SaxIdentifiers.h"

namespace
{
struct ContentHandlerCase
{
    using Handler = MSSaxContentHandlerImpl;
    using Interface = ISAXContentHandler;
    static const IID& iid() { return kIID_ISAXContentHandler; }
    static std::vector<const IID*> otherIids()
    {
        return {&kIID_ISAXErrorHandler, &kIID_ISAXXMLReader, &IID_IDispatch};
    }
};

TEST(SaxContentHandlerEvents, EveryEventIsAcceptedAndIgnored)
{
    const auto handler = MakeComObject<MSSaxContentHandlerImpl>();

    EXPECT_EQ(S_OK, handler->putDocumentLocator(nullptr));
    EXPECT_EQ(S_OK, handler->startDocument());
    EXPECT_EQ(S_OK, handler->startPrefixMapping(L"p", 1, L"urn:x", 5));
    EXPECT_EQ(S_OK, handler->startElement(L"urn:x", 5, L"quit", 4, L"p:quit", 6, nullptr));
    EXPECT_EQ(S_OK, handler->characters(L"text", 4));
    EXPECT_EQ(S_OK, handler->ignorableWhitespace(L" ", 1));
    EXPECT_EQ(S_OK, handler->processingInstruction(L"pi", 2, L"data", 4));
    EXPECT_EQ(S_OK, handler->skippedEntity(L"ent", 3));
    EXPECT_EQ(S_OK, handler->endElement(L"urn:x", 5, L"quit", 4, L"p:quit", 6));
    EXPECT_EQ(S_OK, handler->endPrefixMapping(L"p", 1));
    EXPECT_EQ(S_OK, handler->endDocument());
}
} // namespace

namespace comhandlertests
{
INSTANTIATE_TYPED_TEST_SUITE_P(SaxContentHandler, ComHandlerReferences, ContentHandlerCase);
}
