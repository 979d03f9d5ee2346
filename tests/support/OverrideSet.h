#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "ApiOverride.h"

// Several platform overrides that end together with their owner, the last one first: for a fake
// made of more than one entry.
class OverrideSet
{
public:
    OverrideSet() = default;
    OverrideSet(OverrideSet&&) = default;
    OverrideSet& operator=(OverrideSet&&) = delete;
    ~OverrideSet()
    {
        while (!m_overrides.empty())
        {
            m_overrides.pop_back();
        }
    }

    template <class Signature, class Fake>
    OverrideSet& add(std::function<Signature> pw::PlatformApi::*entry, Fake&& fake)
    {
        m_overrides.push_back(std::make_shared<ApiOverride<Signature>>(
            entry, std::function<Signature>(std::forward<Fake>(fake))));
        return *this;
    }

private:
    std::vector<std::shared_ptr<void>> m_overrides;
};

template <class T>
struct OverrideSetType
{
    using type = T;
};

// Fails the calls of entry for which when(arguments...) holds, for the lifetime of the returned set:
// they return failed with error as the last error. Every other call passes on to the entry that was
// there before.
template <class Result, class... Args, class When>
OverrideSet FailCalls(std::function<Result(Args...)> pw::PlatformApi::*entry, DWORD error,
                      typename OverrideSetType<Result>::type failed, When when)
{
    OverrideSet set;
    set.add(entry,
            [error, failed, when, next = pw::Api().*entry](Args... args) -> Result
            {
                if (!when(args...))
                {
                    return next(args...);
                }
                ::SetLastError(error);
                return failed;
            });
    return set;
}

// Fails every call of entry.
template <class Result, class... Args>
OverrideSet FailCalls(std::function<Result(Args...)> pw::PlatformApi::*entry, DWORD error,
                      typename OverrideSetType<Result>::type failed)
{
    return FailCalls(entry, error, failed, [](Args...) { return true; });
}
