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

// Has the compiler check the format string of a printf-style function against its arguments, as the C
// runtime's _vsnprintf reads them (for a mingw target, g++'s printf archetype is the Microsoft one):
// formatIndex is the format's parameter, counted from 1, and firstArgument the first argument's, or 0
// for a va_list. Nothing for a compiler that has no such attribute.
#if defined(__GNUC__)
#define PW_PRINTF_FORMAT(formatIndex, firstArgument)                                                         \
    __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define PW_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

// A free-text entry. function: the caller as "Class::method" or a bare function name; file: the
// caller's source file name; level: 'E', 'W', 'I' (or 'T'); format may be null.
void LogDebugMessage(const char* function, const char* file, int line, char level, const char* format, ...)
    PW_PRINTF_FORMAT(5, 6);

// A failed call. invokedFunction: what failed ("::OpenSCManager", "ISAXXMLReader::parse", ...);
// code: the code it gave; description: replaces the code's own description when not null.
void LogReturnCode(const char* function, const char* file, int line, char level, const char* invokedFunction,
                   ResultCode code, const char* description, const char* format, ...) PW_PRINTF_FORMAT(8, 9);

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

// Checked calls. Each logs with LogReturnCode on behalf of kFunction, a constant that the enclosing
// scope defines as every logging source file defines kFile (once per function, or once for a file
// whose entries all name one function), at level 'E'; the _AT forms take the level first, and the
// _FOR forms the function and the level, for code that logs on behalf of a name that its caller gives.
// The failed call is named by invoked, and the text that follows is a format and its arguments, or
// nullptr. A last error is taken once, before anything else runs, and is never 0.
// - PW_RETURN_IF_WIN32_BOOL_FALSE: a BOOL call; on FALSE its last error is logged and returned from
//   the enclosing function.
// - PW_LOG_IF_WIN32_BOOL_FALSE: the same as an expression: that error, or ERROR_SUCCESS.
// - PW_LOG_LAST_ERROR: for a call that failed in another way (a null or invalid handle, a wrong
//   answer): an expression, the last error, logged.
// - PW_RETURN_IF_FAILED: a call that answers with a ResultCode (0 for success); a failure is logged
//   and returned from the enclosing function.
// - PW_LOG_IF_FAILED: an expression, the code, logged when it is not 0 (a Windows error, a
//   ResultCode, an LSTATUS).
// - PW_LOG_IF_FAILED_HRESULT: an expression, the HRESULT, logged when FAILED.
#define PW_RETURN_IF_WIN32_BOOL_FALSE(invoked, call, ...)                                                    \
    PW_RETURN_IF_WIN32_BOOL_FALSE_FOR(kFunction, 'E', invoked, call, __VA_ARGS__)
#define PW_RETURN_IF_WIN32_BOOL_FALSE_AT(level, invoked, call, ...)                                          \
    PW_RETURN_IF_WIN32_BOOL_FALSE_FOR(kFunction, level, invoked, call, __VA_ARGS__)
#define PW_RETURN_IF_WIN32_BOOL_FALSE_FOR(function, level, invoked, call, ...)                               \
    do                                                                                                       \
    {                                                                                                        \
        if (!(call))                                                                                         \
        {                                                                                                    \
            const DWORD pwFailure = LastErrorOfFailure();                                                    \
            LogReturnCode((function), kFile, __LINE__, (level), (invoked), pwFailure, nullptr, __VA_ARGS__); \
            return pwFailure;                                                                                \
        }                                                                                                    \
    } while (false)
#define PW_LOG_IF_WIN32_BOOL_FALSE(invoked, call, ...)                                                       \
    PW_LOG_IF_WIN32_BOOL_FALSE_FOR(kFunction, 'E', invoked, call, __VA_ARGS__)
#define PW_LOG_IF_WIN32_BOOL_FALSE_AT(level, invoked, call, ...)                                             \
    PW_LOG_IF_WIN32_BOOL_FALSE_FOR(kFunction, level, invoked, call, __VA_ARGS__)
#define PW_LOG_IF_WIN32_BOOL_FALSE_FOR(function, level, invoked, call, ...)                                  \
    ((call) ? static_cast<DWORD>(ERROR_SUCCESS)                                                              \
            : PW_LOG_LAST_ERROR_FOR((function), (level), (invoked), __VA_ARGS__))
#define PW_LOG_LAST_ERROR(invoked, ...) PW_LOG_LAST_ERROR_FOR(kFunction, 'E', invoked, __VA_ARGS__)
#define PW_LOG_LAST_ERROR_AT(level, invoked, ...)                                                            \
    PW_LOG_LAST_ERROR_FOR(kFunction, level, invoked, __VA_ARGS__)
#define PW_LOG_LAST_ERROR_FOR(function, level, invoked, ...)                                                 \
    [&]() -> DWORD                                                                                           \
    {                                                                                                        \
        const DWORD pwFailure = LastErrorOfFailure();                                                        \
        LogReturnCode((function), kFile, __LINE__, (level), (invoked), pwFailure, nullptr, __VA_ARGS__);     \
        return pwFailure;                                                                                    \
    }()
#define PW_RETURN_IF_FAILED(invoked, call, ...)                                                              \
    PW_RETURN_IF_FAILED_FOR(kFunction, 'E', invoked, call, __VA_ARGS__)
#define PW_RETURN_IF_FAILED_AT(level, invoked, call, ...)                                                    \
    PW_RETURN_IF_FAILED_FOR(kFunction, level, invoked, call, __VA_ARGS__)
#define PW_RETURN_IF_FAILED_FOR(function, level, invoked, call, ...)                                         \
    do                                                                                                       \
    {                                                                                                        \
        const ResultCode pwResult = (call);                                                                  \
        if (pwResult != GLOBAL_SUCCESS)                                                                      \
        {                                                                                                    \
            LogReturnCode((function), kFile, __LINE__, (level), (invoked), pwResult, nullptr, __VA_ARGS__);  \
            return pwResult;                                                                                 \
        }                                                                                                    \
    } while (false)
#define PW_LOG_IF_FAILED(invoked, code, ...) PW_LOG_IF_FAILED_FOR(kFunction, 'E', invoked, code, __VA_ARGS__)
#define PW_LOG_IF_FAILED_AT(level, invoked, code, ...)                                                       \
    PW_LOG_IF_FAILED_FOR(kFunction, level, invoked, code, __VA_ARGS__)
#define PW_LOG_IF_FAILED_FOR(function, level, invoked, code, ...)                                            \
    [&]()                                                                                                    \
    {                                                                                                        \
        const auto pwCode = (code);                                                                          \
        if (pwCode != 0)                                                                                     \
        {                                                                                                    \
            LogReturnCode((function), kFile, __LINE__, (level), (invoked), static_cast<ResultCode>(pwCode),  \
                          nullptr, __VA_ARGS__);                                                             \
        }                                                                                                    \
        return pwCode;                                                                                       \
    }()
#define PW_LOG_IF_FAILED_HRESULT(invoked, hr, ...)                                                           \
    PW_LOG_IF_FAILED_HRESULT_FOR(kFunction, 'E', invoked, hr, __VA_ARGS__)
#define PW_LOG_IF_FAILED_HRESULT_AT(level, invoked, hr, ...)                                                 \
    PW_LOG_IF_FAILED_HRESULT_FOR(kFunction, level, invoked, hr, __VA_ARGS__)
#define PW_LOG_IF_FAILED_HRESULT_FOR(function, level, invoked, hr, ...)                                      \
    [&]() -> HRESULT                                                                                         \
    {                                                                                                        \
        const HRESULT pwResult = (hr);                                                                       \
        if (FAILED(pwResult))                                                                                \
        {                                                                                                    \
            LogReturnCode((function), kFile, __LINE__, (level), (invoked),                                   \
                          static_cast<ResultCode>(pwResult), nullptr, __VA_ARGS__);                          \
        }                                                                                                    \
        return pwResult;                                                                                     \
    }()
// A failure that the call has already logged where it failed, or one that deserves no entry, is
// returned as it is.
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
// level is an int, not a char: the last parameter before "..." must be one that default argument
// promotion leaves as it is.
ResultCode LogCatalogueMessage(std::uint32_t messageId, int level, ...);
ResultCode LogCatalogueMessageV(std::uint32_t messageId, char level, va_list args);

// Bounded printf-style formatting: at most size - 1 characters and always a terminator.
int FormatBounded(char* buffer, size_t size, const char* format, va_list args) PW_PRINTF_FORMAT(3, 0);

// A description of a non-zero result code: the code's catalogue name for the system's own codes,
// the message table text for Windows codes ("WINDOWS_ERROR_CODE" when the table has none). Codes of
// the wininet and winhttp message modules are reduced to their low 16 bits in code. A system text is
// converted into narrowBuffer. Returns null when there is no description.
const char* DescribeResultCode(ResultCode& code, char* narrowBuffer, size_t narrowSize);
