#pragma once

// The process-wide diagnostic log. Entries are catalogue messages handed to the event-log sink.
// The log is reference counted: every OpenDiagnosticLog is matched by one CloseDiagnosticLog.
// An entry written while the log is closed is formatted and dropped; a failure of the log is
// never reported to its callers.

#include <windows.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "vpn/Common/Logging/LogNames.h"
#include "vpn/Common/Logging/ResultCodes.h"

[[nodiscard]] ResultCode OpenDiagnosticLog();
void CloseDiagnosticLog();

// Keeps the log open for its lifetime.
class DiagnosticLogScope
{
public:
    explicit DiagnosticLogScope(ResultCode& openResult) { openResult = OpenDiagnosticLog(); }
    ~DiagnosticLogScope() { CloseDiagnosticLog(); }
    DiagnosticLogScope(const DiagnosticLogScope&) = delete;
    DiagnosticLogScope& operator=(const DiagnosticLogScope&) = delete;
};

// A free-text entry. function: the caller as "Class::method" or a bare function name; file: the
// caller's source file name; level: 'E', 'W', 'I' (or 'T'); format may be null.
void LogDebugMessage(const char* function, const char* file, int line, char level, const char* format, ...);

// A failed call. invokedFunction: what failed ("::OpenSCManager", "ISAXXMLReader::parse", ...);
// code: the code it gave; description: replaces the code's own description when not null.
void LogReturnCode(const char* function, const char* file, int line, char level, const char* invokedFunction,
                   ResultCode code, const char* description, const char* format, ...);

// The usual way to log from product code: the caller spells its function name, the level and the
// text; the macros add the source file name, taken from the constant kFile that every logging source
// file defines, and the line where they stand.
#define PW_LOG_DEBUG(function, level, ...) LogDebugMessage((function), kFile, __LINE__, (level), __VA_ARGS__)
#define PW_LOG_RETURN_CODE(function, level, invokedFunction, code, description, ...)                         \
    LogReturnCode((function), kFile, __LINE__, (level), (invokedFunction), (code), (description), __VA_ARGS__)

// The last error of a call that failed, never 0: a failed call that set none still failed.
inline DWORD LastErrorOfFailure()
{
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : GLOBAL_ERROR_UNEXPECTED;
}

// Checked Win32 calls that answer with a BOOL. On FALSE the last error is taken once, before anything
// else runs, and logged with LogReturnCode as a failure of invoked on behalf of function, with the
// text that follows (a format and its arguments, or nullptr).
// - PW_RETURN_IF_WIN32_BOOL_FALSE returns that error from the enclosing function;
// - PW_LOG_IF_WIN32_BOOL_FALSE is an expression: that error, or ERROR_SUCCESS.
#define PW_RETURN_IF_WIN32_BOOL_FALSE(function, level, invoked, call, ...)                                   \
    do                                                                                                       \
    {                                                                                                        \
        if (!(call))                                                                                         \
        {                                                                                                    \
            const DWORD pwFailure = LastErrorOfFailure();                                                    \
            LogReturnCode((function), kFile, __LINE__, (level), (invoked), pwFailure, nullptr, __VA_ARGS__); \
            return pwFailure;                                                                                \
        }                                                                                                    \
    } while (false)
#define PW_LOG_IF_WIN32_BOOL_FALSE(function, level, invoked, call, ...)                                      \
    ((call) ? static_cast<DWORD>(ERROR_SUCCESS)                                                              \
            : PW_LOG_LAST_ERROR((function), (level), (invoked), __VA_ARGS__))

// For a call that failed in another way (a null or invalid handle, a wrong answer): the last error,
// taken before anything else runs and never 0, logged as above. An expression: that error.
#define PW_LOG_LAST_ERROR(function, level, invoked, ...)                                                     \
    [&]() -> DWORD                                                                                           \
    {                                                                                                        \
        const DWORD pwFailure = LastErrorOfFailure();                                                        \
        LogReturnCode((function), kFile, __LINE__, (level), (invoked), pwFailure, nullptr, __VA_ARGS__);     \
        return pwFailure;                                                                                    \
    }()

// Checked calls that answer with a ResultCode (0 for success). A failure is returned from the
// enclosing function:
// - PW_RETURN_IF_FAILED first logs it with LogReturnCode as a failure of invoked, like the above;
// - PW_RETURN_IF_FAILED_LOGGED returns it as it is: the call has logged it where it failed, or it
//   is one that deserves no entry.
#define PW_RETURN_IF_FAILED(function, level, invoked, call, ...)                                             \
    do                                                                                                       \
    {                                                                                                        \
        const ResultCode pwResult = (call);                                                                  \
        if (pwResult != GLOBAL_SUCCESS)                                                                      \
        {                                                                                                    \
            LogReturnCode((function), kFile, __LINE__, (level), (invoked), pwResult, nullptr, __VA_ARGS__);  \
            return pwResult;                                                                                 \
        }                                                                                                    \
    } while (false)
#define PW_RETURN_IF_FAILED_LOGGED(call)                                                                     \
    do                                                                                                       \
    {                                                                                                        \
        const ResultCode pwResult = (call);                                                                  \
        if (pwResult != GLOBAL_SUCCESS)                                                                      \
        {                                                                                                    \
            return pwResult;                                                                                 \
        }                                                                                                    \
    } while (false)

// Formats catalogue message messageId with the arguments and hands it to the sink.
ResultCode LogCatalogueMessage(std::uint32_t messageId, char level, ...);
ResultCode LogCatalogueMessageV(std::uint32_t messageId, char level, va_list args);

// Bounded printf-style formatting: at most size - 1 characters and always a terminator.
int FormatBounded(char* buffer, size_t size, const char* format, va_list args);

// A description of a non-zero result code: the code's catalogue name for the system's own codes,
// the message table text for Windows codes ("WINDOWS_ERROR_CODE" when the table has none). Codes of
// the wininet and winhttp message modules are reduced to their low 16 bits in code. A system text is
// converted into narrowBuffer. Returns null when there is no description.
const char* DescribeResultCode(ResultCode& code, char* narrowBuffer, size_t narrowSize);
