#pragma once

#include <functional>
#include <utility>

#include "vpn/Common/Platform/PlatformApi.h"

// Replaces one entry of the platform table for its own lifetime and puts back what was there:
//
//     auto undo = OverrideApi(&pw::PlatformApi::Sleep, [&](DWORD ms) { slept += ms; });
//
// Overrides of one entry nest; they must end in the reverse order of their start, as scoped
// objects do. A fake that passes some calls on captures the entry it replaces first:
// [real = pw::Api().CreateFileW](...) { ... return real(...); }.
template <class Signature>
class [[nodiscard]] ApiOverride
{
public:
    using Entry = std::function<Signature> pw::PlatformApi::*;

    ApiOverride(Entry entry, std::function<Signature> replacement)
        : m_entry(entry), m_previous(std::move(pw::Api().*entry))
    {
        pw::Api().*m_entry = std::move(replacement);
    }
    ~ApiOverride() { pw::Api().*m_entry = std::move(m_previous); }
    ApiOverride(const ApiOverride&) = delete;
    ApiOverride& operator=(const ApiOverride&) = delete;

private:
    Entry m_entry;
    std::function<Signature> m_previous;
};

template <class Signature, class Replacement>
[[nodiscard]] ApiOverride<Signature> OverrideApi(std::function<Signature> pw::PlatformApi::*entry,
                                                 Replacement&& replacement)
{
    return ApiOverride<Signature>(entry, std::function<Signature>(std::forward<Replacement>(replacement)));
}
