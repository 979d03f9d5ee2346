#include "LoggedEntry.h"

#include <windows.h>

#include <cstdlib>
#include <iomanip>
#include <tuple>

namespace
{
// The fields of an entry text of either kind.
struct ParsedEntry
{
    std::string function;
    std::string file;
    bool isReturnCode = false;
    std::string invoked;
    long long code = 0; // as the signed decimal of the entry
    std::string text;   // the caller's text
};

// Takes "Label: value\n" from the front of rest.
bool TakeLine(std::string& rest, const std::string& label, std::string& value)
{
    if (rest.compare(0, label.size(), label) != 0)
    {
        return false;
    }
    const size_t end = rest.find('\n', label.size());
    if (end == std::string::npos)
    {
        return false;
    }
    value = rest.substr(label.size(), end - label.size());
    rest.erase(0, end + 1);
    return true;
}

ParsedEntry ParseEntry(const std::string& entryText)
{
    ParsedEntry entry;
    std::string rest = entryText;
    std::string line;
    TakeLine(rest, "Function: ", entry.function);
    TakeLine(rest, "File: ", entry.file);
    TakeLine(rest, "Line: ", line);
    if (TakeLine(rest, "Invoked Function: ", entry.invoked))
    {
        entry.isReturnCode = true;
        std::string code;
        TakeLine(rest, "Return Code: ", code);
        entry.code = std::atoll(code.c_str());
        // The description may itself hold line breaks (system texts end in one): the caller's text
        // follows the last one.
        const std::string label = "Description: ";
        if (rest.compare(0, label.size(), label) == 0)
        {
            const size_t end = rest.rfind('\n');
            rest = end == std::string::npos ? std::string() : rest.substr(end + 1);
        }
    }
    entry.text = rest;
    return entry;
}

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

std::vector<LoggedEntry> LoggedEntries(const RecordingEventLog& log,
                                       const std::function<bool(const LoggedEntry&)>& keep)
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
        if (!keep || keep(entry))
        {
            result.push_back(entry);
        }
    }
    return result;
}

::testing::Matcher<const LoggedEntry&> LoggedEntryLike(const LoggedEntry& expected,
                                                       const ::testing::Matcher<unsigned long>& code,
                                                       const ::testing::Matcher<const std::string&>& text)
{
    using ::testing::Field;
    return ::testing::AllOf(Field("level", &LoggedEntry::level, expected.level),
                            Field("function", &LoggedEntry::function, expected.function),
                            Field("file", &LoggedEntry::file, expected.file),
                            Field("invoked", &LoggedEntry::invoked, expected.invoked),
                            Field("code", &LoggedEntry::code, code), Field("text", &LoggedEntry::text, text));
}

::testing::Matcher<const LoggedEntry&> LoggedEntryLike(const LoggedEntry& expected,
                                                       const ::testing::Matcher<const std::string&>& text)
{
    return LoggedEntryLike(expected, ::testing::Matcher<unsigned long>(expected.code), text);
}
