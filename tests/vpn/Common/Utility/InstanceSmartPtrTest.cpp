#include "vpn/Common/Utility/InstanceSmartPtr.h"

#include <gtest/gtest.h>

namespace
{
struct CountedSingleton
{
    static int releases;
    static CountedSingleton* lastReleased;
    static void ReleaseInstance(CountedSingleton* instance)
    {
        ++releases;
        lastReleased = instance;
    }
    int value = 7;
};
int CountedSingleton::releases = 0;
CountedSingleton* CountedSingleton::lastReleased = nullptr;
} // namespace

TEST(InstanceSmartPtr, ReleasesItsReferenceOnceAndNothingForNull)
{
    CountedSingleton::releases = 0;
    CountedSingleton instance;
    {
        CInstanceSmartPtr<CountedSingleton> holder(&instance);
        EXPECT_EQ(7, holder->value);
        EXPECT_EQ(0, CountedSingleton::releases);
    }
    EXPECT_EQ(1, CountedSingleton::releases);
    EXPECT_EQ(&instance, CountedSingleton::lastReleased);

    {
        CInstanceSmartPtr<CountedSingleton> empty(nullptr);
        EXPECT_EQ(nullptr, empty.get());
    }
    EXPECT_EQ(1, CountedSingleton::releases);
}
