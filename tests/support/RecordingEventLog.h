#pragma once

#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

#include "ApiOverride.h"

// Records every entry that reaches ReportEventA (type, category, event id and the one text) and
// opens the diagnostic log for its lifetime. Entries still reach nothing else: the real event
// log is bypassed, so whole texts and their types can be compared. Only ReportEventA is replaced,
// and put back when the recording ends.
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
