#pragma once

#include <gmock/gmock.h>

#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

#include "ApiOverride.h"
#include "ScopedPlatformApi.h"

// Records every entry that reaches ReportEventA (type, category, event id and the one text) and
// opens the diagnostic log for its lifetime. Entries still reach nothing else: the real event
// log is bypassed, so whole texts and their types can be compared.
struct EventLogEntry
{
    WORD type;
    WORD category;
    DWORD eventId;
    std::string text;
};
bool operator==(const EventLogEntry& a, const EventLogEntry& b);
void PrintTo(const EventLogEntry& entry, std::ostream* out);

class RecordingEventLog
{
public:
    explicit RecordingEventLog(bool openLog = true);
    ~RecordingEventLog();
    RecordingEventLog(const RecordingEventLog&) = delete;
    RecordingEventLog& operator=(const RecordingEventLog&) = delete;

    const std::vector<EventLogEntry>& entries() const { return m_entries; }
    // The texts of all entries, in order.
    std::vector<std::string> texts() const;
    // True when some entry's text contains part.
    bool contains(const std::string& part) const;
    void clear() { m_entries.clear(); }

private:
    ScopedPlatformApi m_api;
    std::vector<EventLogEntry> m_entries;
    ApiOverride<BOOL(HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCSTR*, LPVOID)> m_report;
    bool m_opened;
};

// The exact text of a free-text entry and of a failed-call entry, as the log formats them.
std::string DebugEntry(const std::string& function, const std::string& file, int line,
                       const std::string& text);
std::string ReturnCodeEntry(const std::string& function, const std::string& file, int line,
                            const std::string& invoked, unsigned int code, const std::string& description,
                            const std::string& text);

// The fields of an entry text of either kind, for checks that should not depend on line numbers.
struct ParsedEntry
{
    WORD type = 0; // the entry's event type; 0 for a text parsed alone
    std::string function;
    std::string file;
    int line = 0;
    bool isReturnCode = false;
    std::string invoked;
    long long code = 0; // as the signed decimal of the entry
    std::string hexCode;
    std::string description;
    std::string text; // the caller's text
};
bool operator==(const ParsedEntry& a, const ParsedEntry& b);
void PrintTo(const ParsedEntry& entry, std::ostream* out);
ParsedEntry ParseEntry(const std::string& entryText);
// The parsed entries of a recording, in order, with their event types.
std::vector<ParsedEntry> ParsedEntries(const RecordingEventLog& log);

// Match one parsed entry on its type, the caller's function and file, and the caller's text, and a
// failed-call entry also on what failed and its code (as the entry's signed decimal, or as the
// unsigned code). The line and the description are not compared: they depend on the source's layout
// and on the system's message texts.
::testing::Matcher<const ParsedEntry&> DebugEntryIs(WORD type, const std::string& function,
                                                    const std::string& file,
                                                    const ::testing::Matcher<const std::string&>& text);
::testing::Matcher<const ParsedEntry&> ReturnCodeEntryIs(WORD type, const std::string& function,
                                                         const std::string& file, const std::string& invoked,
                                                         const ::testing::Matcher<long long>& code,
                                                         const ::testing::Matcher<const std::string&>& text);
::testing::Matcher<const ParsedEntry&> ReturnCodeEntryIs(WORD type, const std::string& function,
                                                         const std::string& file, const std::string& invoked,
                                                         unsigned int code,
                                                         const ::testing::Matcher<const std::string&>& text);
