#pragma once

#include "vpn/Common/Utility/Win/PlatformApi.h"

// Saves the platform table on construction and restores it on destruction, so that a test can
// replace entries freely: pw::Api().Sleep = [&](DWORD ms) { slept += ms; };
class ScopedPlatformApi
{
public:
    ScopedPlatformApi() : m_saved(pw::Api()) {}
    ~ScopedPlatformApi() { pw::Api() = m_saved; }
    ScopedPlatformApi(const ScopedPlatformApi&) = delete;
    ScopedPlatformApi& operator=(const ScopedPlatformApi&) = delete;

private:
    pw::PlatformApi m_saved;
};
