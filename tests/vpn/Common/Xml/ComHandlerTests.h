#pragma once

// The IUnknown behaviour that every COM handler of the reader shares, as a type-parameterised
// suite. Each handler's test file instantiates it with a description of its handler:
//
//     struct Case
//     {
//         using Handler = ...;   // default-constructible, with a protected virtual destructor
//         using Interface = ...; // the one interface it implements
//         static const IID& iid();
//         static std::vector<const IID*> otherIids(); // interfaces it must refuse
//     };

#include <gtest/gtest.h>

#include <windows.h>

#include <thread>
#include <vector>

#include "vpn/Common/Platform/ComObject.h"

namespace comhandlertests
{
// A handler that reports its own destruction.
template <typename Handler>
class Observed : public Handler
{
public:
    explicit Observed(bool& destroyed) : m_destroyed(destroyed) {}

protected:
    ~Observed() override { m_destroyed = true; }

private:
    bool& m_destroyed;
};

template <typename Case>
class ComHandlerReferences : public ::testing::Test
{
protected:
    using Handler = typename Case::Handler;
    using Interface = typename Case::Interface;

    bool destroyed = false;
};

TYPED_TEST_SUITE_P(ComHandlerReferences);

TYPED_TEST_P(ComHandlerReferences, KeepsTheLayoutOfItsInterface)
{
    using Handler = typename TestFixture::Handler;
    using Interface = typename TestFixture::Interface;
    // One table of the interface's methods and one reference count, as the platform reader expects.
    static_assert(sizeof(Handler) == 2 * sizeof(void*), "a table pointer and the count, nothing more");
    const auto handler = MakeComObject<Observed<Handler>>(this->destroyed);
    Handler* object = handler.get();
    EXPECT_EQ(static_cast<void*>(object), static_cast<void*>(static_cast<Interface*>(object)));
}

TYPED_TEST_P(ComHandlerReferences, IsBornOwnedAtCountOneAndTheLastReleaseDeletes)
{
    using Handler = typename TestFixture::Handler;
    auto handler = MakeComObject<Observed<Handler>>(this->destroyed);

    EXPECT_EQ(2u, handler->AddRef());
    EXPECT_EQ(1u, handler->Release());
    EXPECT_FALSE(this->destroyed);
    handler.reset();
    EXPECT_TRUE(this->destroyed);
}

TYPED_TEST_P(ComHandlerReferences, CountStartsAtZeroWhenCreatedByHand)
{
    using Handler = typename TestFixture::Handler;
    Handler* handler = new Observed<Handler>(this->destroyed);

    EXPECT_EQ(1u, handler->AddRef());
    EXPECT_EQ(2u, handler->AddRef());
    EXPECT_EQ(1u, handler->Release());
    EXPECT_FALSE(this->destroyed);
    EXPECT_EQ(0u, handler->Release());
    EXPECT_TRUE(this->destroyed);
}

TYPED_TEST_P(ComHandlerReferences, CountsAtomicallyAcrossThreads)
{
    using Handler = typename TestFixture::Handler;
    auto handler = MakeComObject<Observed<Handler>>(this->destroyed);
    Handler* shared = handler.get();

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back(
            [shared]()
            {
                for (int i = 0; i < 20000; ++i)
                {
                    shared->AddRef();
                    shared->Release();
                }
            });
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }

    EXPECT_FALSE(this->destroyed);
    handler.reset();
    EXPECT_TRUE(this->destroyed);
}

TYPED_TEST_P(ComHandlerReferences, QueryInterfaceHandsOutItselfForIUnknownAndItsOwnInterface)
{
    using Handler = typename TestFixture::Handler;
    using Interface = typename TestFixture::Interface;
    Handler* handler = new Observed<Handler>(this->destroyed);
    handler->AddRef();

    for (const IID* iid : {&IID_IUnknown, &TypeParam::iid()})
    {
        void* object = nullptr;
        EXPECT_EQ(S_OK, handler->QueryInterface(*iid, &object));
        EXPECT_EQ(static_cast<Interface*>(handler), object);
    }
    // Each successful query took a reference.
    EXPECT_EQ(4u, handler->AddRef());

    for (const IID* iid : TypeParam::otherIids())
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
    EXPECT_TRUE(this->destroyed);
}

REGISTER_TYPED_TEST_SUITE_P(ComHandlerReferences, KeepsTheLayoutOfItsInterface,
                            IsBornOwnedAtCountOneAndTheLastReleaseDeletes, CountStartsAtZeroWhenCreatedByHand,
                            CountsAtomicallyAcrossThreads,
                            QueryInterfaceHandsOutItselfForIUnknownAndItsOwnInterface);
} // namespace comhandlertests
