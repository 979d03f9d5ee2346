#include <gtest/gtest.h>

#include <windows.h>
#include <msxml2.h>

#include <thread>
#include <vector>

#include "vpn/Common/Xml/MSSaxContentHandlerImpl.h"
#include "vpn/Common/Xml/SaxIdentifiers.h"

namespace
{
// Reports its own destruction.
class ObservedContentHandler : public MSSaxContentHandlerImpl
{
public:
    explicit ObservedContentHandler(bool& destroyed) : m_destroyed(destroyed) {}

protected:
    ~ObservedContentHandler() override { m_destroyed = true; }

private:
    bool& m_destroyed;
};

TEST(SaxContentHandlerReferences, CountStartsAtZeroAndTheLastReleaseDeletes)
{
    bool destroyed = false;
    MSSaxContentHandlerImpl* handler = new ObservedContentHandler(destroyed);

    EXPECT_EQ(1u, handler->AddRef());
    EXPECT_EQ(2u, handler->AddRef());
    EXPECT_EQ(1u, handler->Release());
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(0u, handler->Release());
    EXPECT_TRUE(destroyed);
}

TEST(SaxContentHandlerReferences, CountsAtomicallyAcrossThreads)
{
    bool destroyed = false;
    MSSaxContentHandlerImpl* handler = new ObservedContentHandler(destroyed);
    handler->AddRef();

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back(
            [handler]()
            {
                for (int i = 0; i < 20000; ++i)
                {
                    handler->AddRef();
                    handler->Release();
                }
            });
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }

    EXPECT_FALSE(destroyed);
    EXPECT_EQ(0u, handler->Release());
    EXPECT_TRUE(destroyed);
}

TEST(SaxContentHandlerQueryInterface, HandsOutItselfForIUnknownAndItsOwnInterface)
{
    bool destroyed = false;
    MSSaxContentHandlerImpl* handler = new ObservedContentHandler(destroyed);
    handler->AddRef();

    for (const IID* iid : {&IID_IUnknown, &kIID_ISAXContentHandler})
    {
        void* object = nullptr;
        EXPECT_EQ(S_OK, handler->QueryInterface(*iid, &object));
        EXPECT_EQ(static_cast<ISAXContentHandler*>(handler), object);
    }
    // Each successful query took a reference.
    EXPECT_EQ(4u, handler->AddRef());

    for (const IID* iid : {&kIID_ISAXErrorHandler, &kIID_ISAXXMLReader, &IID_IDispatch})
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

} // namespace
