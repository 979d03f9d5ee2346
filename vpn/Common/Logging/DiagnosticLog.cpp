#include "vpn/Common/Logging/DiagnosticLog.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "vpn/Common/Logging/CodeNameCatalogue.h"
#include "vpn/Common/Logging/EventLogLogger.h"
#include "vpn/Common/Logging/MessageCatalogue.h"
#include "vpn/Common/Platform/ManualLock.h"
#include "vpn/Common/Platform/PlatformApi.h"
#include "vpn/Common/Platform/StringConvert.h"
#include "vpn/Common/Platform/UniqueHandle.h"

namespace
{

constexpr size_t kCallerTextSize = 1024;
constexpr size_t kEntryTextSize = 2048;
constexpr size_t kDescriptionSize = 2048;

struct LogState
{
    long referenceCount = 0;
    std::unique_ptr<ILogger> sink;
    const CodeNameModule* codeNames = nullptr;
    std::uint32_t codeNameSlots = 0;
    CUniqueModule wininet;
    CUniqueModule winhttp;
};

LogState& State()
{
    static LogState state;
    return state;
}

// Guards the state: opening and closing hold it throughout, and so does writing an entry, so that
// no entry meets a half-opened or half-closed log. The section is re-entrant, so a sink or a module
// load that logs on the same thread does not block itself.
CManualLock& Lock()
{
    static CManualLock lock;
    return lock;
}

HMODULE LoadMessageModule(const wchar_t* name)
{
    return pw::LoadSystemLibrary(name, LOAD_LIBRARY_AS_DATAFILE);
}

const char* DescribeOwnCode(ResultCode code)
{
    const LogState& state = State();
    const std::uint32_t module = (code >> 16) & 0xFF;
    if (state.codeNames == nullptr || module >= state.codeNameSlots ||
        state.codeNames[module].rows == nullptr || state.codeNames[module].rowCount == 0)
    {
        return nullptr;
    }
    const CodeNameModule& slot = state.codeNames[module];
    const std::uint32_t index = code & 0xFFFF;
    if (index < slot.rowCount && slot.rows[index] != nullptr)
    {
        return slot.rows[index];
    }
    return slot.rows[slot.rowCount - 1];
}

// The names that an entry shows in its "%s" fields: a caller's null shows as nothing, never as a null
// text, which the C runtime's formatting does not define.
const char* Shown(const char* name)
{
    return name != nullptr ? name : "";
}

} // namespace

ResultCode OpenDiagnosticLog()
{
    CManualLock::CScopedLock hold(Lock());
    LogState& state = State();
    ++state.referenceCount;
    state.codeNames = CodeNameCatalogue();
    state.codeNameSlots = kCodeNameSlotCount;
    if (state.sink)
    {
        return GLOBAL_SUCCESS;
    }

    state.sink.reset(new (std::nothrow) CEventLogLogger());

    state.wininet.reset(LoadMessageModule(L"wininet.dll"));
    if (!state.wininet.valid())
    {
        return GLOBAL_ERROR_NOT_INITIALIZED;
    }
    state.winhttp.reset(LoadMessageModule(L"winhttp.dll"));
    return state.winhttp.valid() ? GLOBAL_SUCCESS : GLOBAL_ERROR_NOT_INITIALIZED;
}

void CloseDiagnosticLog()
{
    CManualLock::CScopedLock hold(Lock());
    LogState& state = State();
    if (state.referenceCount == 0 || --state.referenceCount > 0)
    {
        return;
    }
    state.sink.reset();
    state.wininet.reset();
    state.winhttp.reset();
}

int FormatBounded(char* buffer, size_t size, const char* format, va_list args)
{
    if (buffer == nullptr || format == nullptr)
    {
        return static_cast<int>(size);
    }
    const int count = ::_vsnprintf(buffer, size, format, args);
    buffer[size - 1] = '\0';
    return count >= 0 ? count : static_cast<int>(size);
}

ResultCode LogCatalogueMessageV(std::uint32_t messageId, char level, va_list args)
{
    const MessageRecord& record = FindMessageRecord(messageId);
    char text[kEntryTextSize] = {};
    const int count = FormatBounded(text, sizeof(text), record.format, args);
    CManualLock::CScopedLock hold(Lock());
    ILogger* sink = State().sink.get();
    if (sink == nullptr)
    {
        return static_cast<ResultCode>(count);
    }
    return sink->log(record.severity, text, record.name, messageId, static_cast<int>(level));
}

ResultCode LogCatalogueMessage(std::uint32_t messageId, int level, ...)
{
    va_list args;
    va_start(args, level);
    const ResultCode result = LogCatalogueMessageV(messageId, static_cast<char>(level), args);
    va_end(args);
    return result;
}

void LogDebugMessage(const char* function, const char* file, int line, char level, const char* format, ...)
{
    char callerText[kCallerTextSize] = {};
    if (format != nullptr)
    {
        va_list args;
        va_start(args, format);
        FormatBounded(callerText, sizeof(callerText), format, args);
        va_end(args);
    }
    (void)LogCatalogueMessage(MID_DEBUG_MESSAGE, level, Shown(function), Shown(file), line, callerText);
}

void LogReturnCode(const char* function, const char* file, int line, char level, const char* invokedFunction,
                   ResultCode code, const char* description, const char* format, ...)
{
    char callerText[kCallerTextSize] = {};
    if (format != nullptr)
    {
        va_list args;
        va_start(args, format);
        FormatBounded(callerText, sizeof(callerText), format, args);
        va_end(args);
    }

    // Held from the description, which reads the message modules, until the entry is handed on.
    CManualLock::CScopedLock hold(Lock());
    const char* trailingText = callerText;
    char systemText[kDescriptionSize] = {};
    if (description == nullptr)
    {
        if (code == 0 && format != nullptr)
        {
            description = callerText;
            trailingText = "";
        }
        else
        {
            description = code != 0 ? DescribeResultCode(code, systemText, sizeof(systemText)) : nullptr;
            description = description != nullptr ? description : "unknown";
        }
    }
    (void)LogCatalogueMessage(MID_DEBUG_RETURN_CODE, level, Shown(function), Shown(file), line,
                              Shown(invokedFunction), code, code, description, trailingText);
}

const char* DescribeResultCode(ResultCode& code, char* narrowBuffer, size_t narrowSize)
{
    CManualLock::CScopedLock hold(Lock());
    if ((code & 0xFE000000u) == 0xFE000000u)
    {
        return DescribeOwnCode(code);
    }

    const LogState& state = State();
    const bool wininet = (code & 0x00FD0000u) == 0x00FD0000u;
    const bool fromModule = wininet || (code & 0x00FC0000u) == 0x00FC0000u;
    const HMODULE source = !fromModule ? nullptr : wininet ? state.wininet.get() : state.winhttp.get();
    if (fromModule)
    {
        code &= 0xFFFF;
        if (source == nullptr)
        {
            return "WINDOWS_ERROR_CODE";
        }
    }
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                        (fromModule ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM);

    wchar_t* message = nullptr;
    const DWORD length =
        pw::Api().FormatMessageW(flags, source, code, 0, reinterpret_cast<LPWSTR>(&message), 0);
    CUniqueLocalMemory messageOwner(message);
    if (length == 0 || message == nullptr)
    {
        return "WINDOWS_ERROR_CODE";
    }
    // The conversion fails when the text does not fit; how many bytes a character takes depends on
    // the code page.
    const int size = narrowSize > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(narrowSize);
    return ToNarrow(narrowBuffer, message, size, CP_THREAD_ACP);
}
