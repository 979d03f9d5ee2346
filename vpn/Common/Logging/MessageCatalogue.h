#pragma once

#include <cstdint>

// The catalogue of event messages from which every log entry is made.

constexpr std::uint32_t MID_UNKNOWN = 0;
constexpr std::uint32_t MID_DEBUG_MESSAGE = 1;
constexpr std::uint32_t MID_DEBUG_RETURN_CODE = 2;

struct MessageRecord
{
    const char* name;
    std::int32_t severity;
    const char* format;
};

struct MessageGroup
{
    const MessageRecord* records;
    std::uint32_t baseId;
    std::uint32_t count;
};

// The record of a message id, or the fallback record "UNKNOWN" (severity 7, empty format) for an
// id that no group covers. Never null.
const MessageRecord& FindMessageRecord(std::uint32_t messageId);
