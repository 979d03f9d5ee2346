#include "RecordingEventLog.h"

#include <gtest/gtest.h>

#include <cstdio>

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
