#pragma once

#include <gmock/gmock.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "RecordingEventLog.h"

// One recorded log entry as a test states it, compared and printed as a whole: its level ('E',
// 'W' or 'I', from the event type), the logging function, the source file, and for a failed call
// the invoked name and the code; then the caller's text. A free-text entry has no invoked name and
// code 0. The line and the code's description are left out: they change with the source and with
// the Windows version.
struct LoggedEntry
{
    char level = 0;
    std::string function;
    std::string file;
    std::string invoked;
    unsigned long code = 0;
    std::string text;

    bool operator==(const LoggedEntry& other) const;
    bool operator!=(const LoggedEntry& other) const { return !(*this == other); }
};

std::ostream& operator<<(std::ostream& out, const LoggedEntry& entry);

// A free-text entry.
LoggedEntry Message(char level, const std::string& function, const std::string& file,
                    const std::string& text);
// A failed-call entry.
LoggedEntry Failure(char level, const std::string& function, const std::string& file,
                    const std::string& invoked, unsigned long code, const std::string& text = "");

// The entries of a recording, in order; with keep, only those that it keeps.
std::vector<LoggedEntry> LoggedEntries(const RecordingEventLog& log,
                                       const std::function<bool(const LoggedEntry&)>& keep = nullptr);

// An entry equal to expected but for its text, which text checks instead (a text that holds a
// temporary path or a system message), and with the first form also for its code, which code
// checks instead (a code that the installed reader chooses). The code and text of expected are not
// used where a matcher stands for them.
::testing::Matcher<const LoggedEntry&> LoggedEntryLike(const LoggedEntry& expected,
                                                       const ::testing::Matcher<unsigned long>& code,
                                                       const ::testing::Matcher<const std::string&>& text);
::testing::Matcher<const LoggedEntry&> LoggedEntryLike(const LoggedEntry& expected,
                                                       const ::testing::Matcher<const std::string&>& text);
