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
