#include "RecordingEventLog.h"

#include <cstdio>
#include <cstdlib>

#include "vpn/Common/Logging/DiagnosticLog.h"

RecordingEventLog::RecordingEventLog(bool openLog)
    : m_report(OverrideApi(
          &pw::PlatformApi::ReportEventA,
          [this](HANDLE, WORD type, WORD category, DWORD id, PSID, WORD count, DWORD, LPCSTR* strings, LPVOID)
          {
              m_entries.push_back({type, category, id, count > 0 && strings[0] != nullptr ? strings[0] : ""});
              return TRUE;
          })),
      m_opened(openLog)
{
    if (m_opened)
    {
        (void)OpenDiagnosticLog();
    }
}

RecordingEventLog::~RecordingEventLog()
{
    if (m_opened)
    {
        CloseDiagnosticLog();
    }
}

bool operator==(const EventLogEntry& a, const EventLogEntry& b)
{
    return a.type == b.type && a.category == b.category && a.eventId == b.eventId && a.text == b.text;
}

void PrintTo(const EventLogEntry& entry, std::ostream* out)
{
    *out << "{type " << entry.type << ", category " << entry.category << ", id 0x" << std::hex
         << entry.eventId << std::dec << ", text " << ::testing::PrintToString(entry.text) << "}";
}

std::vector<std::string> RecordingEventLog::texts() const
{
    std::vector<std::string> result;
    for (const EventLogEntry& entry : m_entries)
    {
        result.push_back(entry.text);
    }
    return result;
}

bool RecordingEventLog::contains(const std::string& part) const
{
    for (const EventLogEntry& entry : m_entries)
    {
        if (entry.text.find(part) != std::string::npos)
        {
            return true;
        }
    }
    return false;
}

std::string DebugEntry(const std::string& function, const std::string& file, int line,
                       const std::string& text)
{
    return "Function: " + function + "\nFile: " + file + "\nLine: " + std::to_string(line) + "\n" + text;
}

std::string ReturnCodeEntry(const std::string& function, const std::string& file, int line,
                            const std::string& invoked, unsigned int code, const std::string& description,
                            const std::string& text)
{
    char codeText[64];
    std::snprintf(codeText, sizeof(codeText), "%d (0x%.8X)", static_cast<int>(code), code);
    return "Function: " + function + "\nFile: " + file + "\nLine: " + std::to_string(line) +
           "\nInvoked Function: " + invoked + "\nReturn Code: " + codeText + "\nDescription: " + description +
           "\n" + text;
}

namespace
{
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
} // namespace

ParsedEntry ParseEntry(const std::string& entryText)
{
    ParsedEntry entry;
    std::string rest = entryText;
    std::string line;
    TakeLine(rest, "Function: ", entry.function);
    TakeLine(rest, "File: ", entry.file);
    if (TakeLine(rest, "Line: ", line))
    {
        entry.line = std::atoi(line.c_str());
    }
    if (TakeLine(rest, "Invoked Function: ", entry.invoked))
    {
        entry.isReturnCode = true;
        std::string code;
        TakeLine(rest, "Return Code: ", code);
        entry.code = std::atoll(code.c_str());
        const size_t hex = code.find("(0x");
        if (hex != std::string::npos)
        {
            entry.hexCode = code.substr(hex + 3, 8);
        }
        // The description may itself hold line breaks (system texts end in one).
        const std::string label = "Description: ";
        if (rest.compare(0, label.size(), label) == 0)
        {
            rest.erase(0, label.size());
            const size_t end = rest.rfind('\n');
            entry.description = rest.substr(0, end);
            rest = end == std::string::npos ? std::string() : rest.substr(end + 1);
        }
    }
    entry.text = rest;
    return entry;
}

std::vector<ParsedEntry> ParsedEntries(const RecordingEventLog& log)
{
    std::vector<ParsedEntry> result;
    for (const EventLogEntry& e : log.entries())
    {
        result.push_back(ParseEntry(e.text));
        result.back().type = e.type;
    }
    return result;
}

bool operator==(const ParsedEntry& a, const ParsedEntry& b)
{
    return a.type == b.type && a.function == b.function && a.file == b.file && a.line == b.line &&
           a.isReturnCode == b.isReturnCode && a.invoked == b.invoked && a.code == b.code &&
           a.hexCode == b.hexCode && a.description == b.description && a.text == b.text;
}

void PrintTo(const ParsedEntry& entry, std::ostream* out)
{
    *out << "{type " << entry.type << ", " << entry.function << " in " << entry.file << " line "
         << entry.line;
    if (entry.isReturnCode)
    {
        *out << ", invoked " << entry.invoked << ", code " << entry.code << " (0x" << entry.hexCode
             << "), description " << ::testing::PrintToString(entry.description);
    }
    *out << ", text " << ::testing::PrintToString(entry.text) << "}";
}

::testing::Matcher<const ParsedEntry&> DebugEntryIs(WORD type, const std::string& function,
                                                    const std::string& file,
                                                    const ::testing::Matcher<const std::string&>& text)
{
    using ::testing::Field;
    return ::testing::AllOf(
        Field("type", &ParsedEntry::type, type), Field("function", &ParsedEntry::function, function),
        Field("file", &ParsedEntry::file, file), Field("isReturnCode", &ParsedEntry::isReturnCode, false),
        Field("text", &ParsedEntry::text, text));
}

::testing::Matcher<const ParsedEntry&> ReturnCodeEntryIs(WORD type, const std::string& function,
                                                         const std::string& file, const std::string& invoked,
                                                         const ::testing::Matcher<long long>& code,
                                                         const ::testing::Matcher<const std::string&>& text)
{
    using ::testing::Field;
    return ::testing::AllOf(
        Field("type", &ParsedEntry::type, type), Field("function", &ParsedEntry::function, function),
        Field("file", &ParsedEntry::file, file), Field("isReturnCode", &ParsedEntry::isReturnCode, true),
        Field("invoked", &ParsedEntry::invoked, invoked), Field("code", &ParsedEntry::code, code),
        Field("text", &ParsedEntry::text, text));
}

::testing::Matcher<const ParsedEntry&> ReturnCodeEntryIs(WORD type, const std::string& function,
                                                         const std::string& file, const std::string& invoked,
                                                         unsigned int code,
                                                         const ::testing::Matcher<const std::string&>& text)
{
    // The entry shows the code as a signed decimal.
    return ReturnCodeEntryIs(type, function, file, invoked,
                             ::testing::Matcher<long long>(static_cast<long long>(static_cast<int>(code))),
                             text);
}
