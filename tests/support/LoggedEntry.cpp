#include "LoggedEntry.h"

#include <windows.h>

#include <iomanip>
#include <tuple>

namespace
{
char Level(WORD type)
{
    switch (type)
    {
    case EVENTLOG_ERROR_TYPE:
        return 'E';
    case EVENTLOG_WARNING_TYPE:
        return 'W';
    case EVENTLOG_INFORMATION_TYPE:
        return 'I';
    default:
        return '?';
    }
}
} // namespace

bool LoggedEntry::operator==(const LoggedEntry& other) const
{
    return std::tie(level, function, file, invoked, code, text) ==
           std::tie(other.level, other.function, other.file, other.invoked, other.code, other.text);
}

std::ostream& operator<<(std::ostream& out, const LoggedEntry& entry)
{
    out << entry.level << ' ' << entry.function << " [" << entry.file << "]";
    if (!entry.invoked.empty() || entry.code != 0)
    {
        out << " (" << entry.invoked << ") " << std::hex << std::uppercase << std::setw(8)
            << std::setfill('0') << entry.code << std::dec << std::setfill(' ');
    }
    return out << " \"" << entry.text << '"';
}

LoggedEntry Message(char level, const std::string& function, const std::string& file, const std::string& text)
{
    return {level, function, file, "", 0, text};
}

LoggedEntry Failure(char level, const std::string& function, const std::string& file,
                    const std::string& invoked, unsigned long code, const std::string& text)
{
    return {level, function, file, invoked, code, text};
}

std::vector<LoggedEntry> LoggedEntries(const RecordingEventLog& log)
{
    std::vector<LoggedEntry> result;
    for (const EventLogEntry& recorded : log.entries())
    {
        const ParsedEntry parsed = ParseEntry(recorded.text);
        LoggedEntry entry{Level(recorded.type), parsed.function, parsed.file, "", 0, parsed.text};
        if (parsed.isReturnCode)
        {
            entry.invoked = parsed.invoked;
            entry.code = static_cast<unsigned long>(static_cast<unsigned int>(parsed.code));
        }
        result.push_back(entry);
    }
    return result;
}
