#include "vpn/Common/Logging/MessageCatalogue.h"

#include <iterator>

namespace
{

// Group 0: the log's own messages. The groups of other components of the product are not carried by
// this tool; their ids resolve to the fallback record.
const MessageRecord kLogMessages[] = {
    {"MID_UNKNOWN", 5, "%s"},
    {"MID_DEBUG_MESSAGE", 7, "Function: %s\nFile: %s\nLine: %d\n%s"},
    {"MID_DEBUG_RETURN_CODE", 7,
     "Function: %s\nFile: %s\nLine: %d\nInvoked Function: %s\nReturn Code: %d (0x%.8X)\nDescription: %s\n%s"},
};

const MessageGroup kMessageGroups[] = {
    {kLogMessages, 0, static_cast<std::uint32_t>(std::size(kLogMessages))},
};

const MessageRecord kFallbackRecord = {"UNKNOWN", 7, ""};

} // namespace

const MessageRecord& FindMessageRecord(std::uint32_t messageId)
{
    for (const MessageGroup& group : kMessageGroups)
    {
        if (messageId >= group.baseId && messageId - group.baseId < group.count)
        {
            return group.records[messageId - group.baseId];
        }
    }
    return kFallbackRecord;
}
