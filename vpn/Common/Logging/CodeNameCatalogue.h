#pragma once

#include <cstdint>

#include "vpn/Common/Logging/ResultCodes.h"

// Names of the result codes of every module, indexed by module number (the code-name catalogue).

struct CodeNameModule
{
    std::uint32_t rowCount;
    const char* const* rows;
};

constexpr std::uint32_t kCodeNameSlotCount = 168;

// The catalogue table of kCodeNameSlotCount slots.
const CodeNameModule* CodeNameCatalogue();
