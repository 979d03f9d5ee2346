#include "FaultInjector.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <tuple>
#include <type_traits>

namespace
{
template <class T>
const void* Key(T value)
{
    if constexpr (std::is_pointer_v<T>)
    {
        return value;
    }
    else
    {
        return reinterpret_cast<const void*>(static_cast<std::uintptr_t>(value));
    }
}

template <class T>
bool Held(T value)
{
    if constexpr (std::is_pointer_v<T>)
    {
        return value != nullptr && value != INVALID_HANDLE_VALUE;
    }
    else
    {
        return true; // a session number: 0 is one too
    }
}

bool Succeeded(BOOL result)
{
    return result != FALSE;
}

// A DWORD or LSTATUS code.
template <class Code>
bool Succeeded(Code result)
{
    return result == ERROR_SUCCESS;
}

// What a call does to the ledger, given the injector, the result (none for void entries) and the
// arguments.
struct None
{
    template <class... T>
    void operator()(FaultInjector&, const T&...) const
    {
    }
};

// The returned handle, module or block, when it is one.
struct Returns
{
    const char* kind;
    template <class R, class... A>
    void operator()(FaultInjector& injector, R result, A...) const
    {
        if (Held(result))
        {
            injector.acquire(kind, Key(result));
        }
    }
};

// What the call wrote through its argument Index, when it succeeded.
template <size_t Index>
struct Gives
{
    const char* kind;
    template <class R, class... A>
    void operator()(FaultInjector& injector, R result, A... arguments) const
    {
        const auto out = std::get<Index>(std::make_tuple(arguments...));
        if (Succeeded(result) && out != nullptr && Held(*out))
        {
            injector.acquire(kind, Key(*out));
        }
    }
};

// The first argument, released whatever the call answers.
struct Releases
{
    const char* kind;
    template <class R, class H, class... A>
    void operator()(FaultInjector& injector, R, H handle, A...) const
    {
        if (Held(handle))
        {
            injector.release(kind, Key(handle));
        }
    }
};

// With FORMAT_MESSAGE_ALLOCATE_BUFFER the buffer argument receives a LocalAlloc block.
struct FormattedText
{
    void operator()(FaultInjector& injector, DWORD length, DWORD flags, LPCVOID, DWORD, DWORD, LPWSTR buffer,
                    DWORD) const
    {
        if (length != 0 && (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0)
        {
            injector.acquire("local memory", *reinterpret_cast<LPWSTR*>(buffer));
        }
    }
};

struct ComEntered
{
    template <class... A>
    void operator()(FaultInjector& injector, HRESULT result, A...) const
    {
        if (SUCCEEDED(result)) // S_FALSE too needs its CoUninitialize
        {
            injector.acquire("COM initialisation", nullptr);
        }
    }
};

struct ComLeft
{
    void operator()(FaultInjector& injector) const { injector.release("COM initialisation", nullptr); }
};

struct FreedString
{
    void operator()(FaultInjector& injector, BSTR text) const
    {
        // A string that a COM method handed out (a node's text) is freed by its receiver too; the
        // ledger holds only those that SysAllocString gave.
        if (text != nullptr && injector.holds("string", text))
        {
            injector.release("string", text);
        }
    }
};

// Failure values that depend on the arguments or set errno.
struct SameBlock
{
    template <class H>
    H operator()(H block) const
    {
        return block;
    }
};

// The clock cannot fail: its failed call reads the real one.
struct TickCount
{
    ULONGLONG operator()() const { return ::GetTickCount64(); }
};

struct StatFails
{
    int operator()(const wchar_t*, struct _stat*) const
    {
        errno = EACCES;
        return -1;
    }
};

enum Mode
{
    kFail,           // the failed call does not reach the entry below
    kReleaseAndFail, // the failed call releases, then reports the failure
};

template <class R, class... A, class Failure, class Observer>
void Wrap(FaultInjector& injector, std::function<R(A...)> pw::PlatformApi::*entry, const char* name,
          Failure failure, DWORD error, Mode mode, Observer observe)
{
    std::function<R(A...)>& slot = pw::Api().*entry;
    slot = [&injector, next = slot, name, failure, error, mode, observe](A... arguments) -> R
    {
        const bool fail = injector.enter(name);
        if constexpr (std::is_void_v<R>)
        {
            // An entry without a result cannot fail: it always passes on.
            (void)fail, (void)failure, (void)error, (void)mode;
            next(arguments...);
            observe(injector, arguments...);
        }
        else
        {
            auto failed = [&]() -> R
            {
                ::SetLastError(error);
                if constexpr (std::is_invocable_v<Failure, A...>)
                {
                    return failure(arguments...);
                }
                else
                {
                    return (R)failure;
                }
            };
            if (fail && mode == kFail)
            {
                return failed();
            }
            R result = next(arguments...);
            const DWORD lastError = ::GetLastError();
            observe(injector, result, arguments...);
            if (fail)
            {
                return failed();
            }
            ::SetLastError(lastError);
            return result;
        }
    };
}

// One line per entry of the platform table: its failure value, the last error that goes with it,
// whether the failed call still releases, and what a call does to the ledger. A new entry of the
// table needs a line here (the size check below catches a missing one).
#define PW_FAULT_TABLE(X)                                                                                    \
    X(CloseHandle, FALSE, ERROR_INVALID_HANDLE, kReleaseAndFail, Releases{"handle"})                         \
    X(GetFileAttributesW, INVALID_FILE_ATTRIBUTES, ERROR_ACCESS_DENIED, kFail, None{})                       \
    X(CreateDirectoryW, FALSE, ERROR_ACCESS_DENIED, kFail, None{})                                           \
    X(CreateFileW, INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED, kFail, Returns{"handle"})                      \
    X(WriteFile, FALSE, ERROR_DISK_FULL, kFail, None{})                                                      \
    X(ReadFile, FALSE, ERROR_READ_FAULT, kFail, None{})                                                      \
    X(FlushFileBuffers, FALSE, ERROR_DISK_FULL, kFail, None{})                                               \
    X(DeleteFileW, FALSE, ERROR_ACCESS_DENIED, kFail, None{})                                                \
    X(GetFileInformationByHandleEx, FALSE, ERROR_ACCESS_DENIED, kFail, None{})                               \
    X(SetFileInformationByHandle, FALSE, ERROR_ACCESS_DENIED, kFail, None{})                                 \
    X(GetFinalPathNameByHandleW, 0, ERROR_ACCESS_DENIED, kFail, None{})                                      \
    X(FindFirstFileW, INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED, kFail, Returns{"find handle"})              \
    X(FindNextFileW, FALSE, ERROR_ACCESS_DENIED, kFail, None{})                                              \
    X(FindClose, FALSE, ERROR_INVALID_HANDLE, kReleaseAndFail, Releases{"find handle"})                      \
    X(wstat, StatFails{}, ERROR_ACCESS_DENIED, kFail, None{})                                                \
    X(IsWow64Process, FALSE, ERROR_ACCESS_DENIED, kFail, None{})                                             \
    X(IsWow64Process2, FALSE, ERROR_PROC_NOT_FOUND, kFail, None{})                                           \
    X(RegOpenKeyExW, LSTATUS{ERROR_ACCESS_DENIED}, 0, kFail, Gives<4>{"registry key"})                       \
    X(RegQueryValueExW, LSTATUS{ERROR_ACCESS_DENIED}, 0, kFail, None{})                                      \
    X(RegCloseKey, LSTATUS{ERROR_INVALID_HANDLE}, 0, kReleaseAndFail, Releases{"registry key"})              \
    X(SetDefaultDllDirectories, FALSE, ERROR_ACCESS_DENIED, kFail, None{})                                   \
    X(LoadLibraryExW, nullptr, ERROR_MOD_NOT_FOUND, kFail, Returns{"module"})                                \
    X(GetProcAddress, nullptr, ERROR_PROC_NOT_FOUND, kFail, None{})                                          \
    X(FreeLibrary, FALSE, ERROR_INVALID_HANDLE, kReleaseAndFail, Releases{"module"})                         \
    X(GetSystemDirectoryW, 0, ERROR_ACCESS_DENIED, kFail, None{})                                            \
    X(FormatMessageW, 0, ERROR_NOT_ENOUGH_MEMORY, kFail, FormattedText{})                                    \
    X(LocalFree, SameBlock{}, ERROR_INVALID_HANDLE, kReleaseAndFail, Releases{"local memory"})               \
    X(GetStdHandle, INVALID_HANDLE_VALUE, ERROR_INVALID_HANDLE, kFail, None{})                               \
    X(GetConsoleMode, FALSE, ERROR_INVALID_HANDLE, kFail, None{})                                            \
    X(WriteConsoleW, FALSE, ERROR_INVALID_HANDLE, kFail, None{})                                             \
    X(GetConsoleOutputCP, 0, ERROR_INVALID_HANDLE, kFail, None{})                                            \
    X(TlsAlloc, TLS_OUT_OF_INDEXES, ERROR_NO_MORE_ITEMS, kFail, None{})                                      \
    X(TlsFree, FALSE, ERROR_INVALID_PARAMETER, kReleaseAndFail, None{})                                      \
    X(Sleep, 0, 0, kFail, None{})                                                                            \
    X(SleepEx, 0, 0, kFail, None{})                                                                          \
    X(GetTickCount64, TickCount{}, 0, kFail, None{})                                                         \
    X(RegisterEventSourceA, nullptr, ERROR_ACCESS_DENIED, kFail, Returns{"event source"})                    \
    X(ReportEventA, FALSE, ERROR_LOG_FILE_FULL, kFail, None{})                                               \
    X(DeregisterEventSource, FALSE, ERROR_INVALID_HANDLE, kReleaseAndFail, Releases{"event source"})         \
    X(OpenThreadToken, FALSE, ERROR_ACCESS_DENIED, kFail, Gives<3>{"handle"})                                \
    X(OpenProcessToken, FALSE, ERROR_ACCESS_DENIED, kFail, Gives<2>{"handle"})                               \
    X(GetTokenInformation, FALSE, ERROR_ACCESS_DENIED, kFail, None{})                                        \
    X(GlobalAlloc, nullptr, ERROR_NOT_ENOUGH_MEMORY, kFail, Returns{"global memory"})                        \
    X(GlobalFree, SameBlock{}, ERROR_INVALID_HANDLE, kReleaseAndFail, Releases{"global memory"})             \
    X(AllocateAndInitializeSid, FALSE, ERROR_NOT_ENOUGH_MEMORY, kFail, Gives<10>{"SID"})                     \
    X(EqualSid, FALSE, ERROR_INVALID_SID, kFail, None{})                                                     \
    X(GetLengthSid, 0, ERROR_INVALID_SID, kFail, None{})                                                     \
    X(FreeSid, SameBlock{}, ERROR_INVALID_SID, kReleaseAndFail, Releases{"SID"})                             \
    X(ConvertStringSidToSidW, FALSE, ERROR_NOT_ENOUGH_MEMORY, kFail, Gives<1>{"local memory"})               \
    X(ConvertSidToStringSidW, FALSE, ERROR_NOT_ENOUGH_MEMORY, kFail, Gives<1>{"local memory"})               \
    X(LookupAccountSidW, FALSE, ERROR_NONE_MAPPED, kFail, None{})                                            \
    X(ConvertStringSecurityDescriptorToSecurityDescriptorW, FALSE, ERROR_NOT_ENOUGH_MEMORY, kFail,           \
      Gives<2>{"local memory"})                                                                              \
    X(GetSecurityInfo, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, kFail, Gives<7>{"local memory"})            \
    X(GetAce, FALSE, ERROR_INVALID_PARAMETER, kFail, None{})                                                 \
    X(RtlGenRandom, FALSE, ERROR_NOT_ENOUGH_MEMORY, kFail, None{})                                           \
    X(RmStartSession, ERROR_OUTOFMEMORY, ERROR_OUTOFMEMORY, kFail, Gives<0>{"Restart Manager session"})      \
    X(RmRegisterResources, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, kFail, None{})                          \
    X(RmGetList, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, kFail, None{})                                    \
    X(RmEndSession, ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE, kReleaseAndFail,                             \
      Releases{"Restart Manager session"})                                                                   \
    X(OpenSCManagerW, nullptr, ERROR_ACCESS_DENIED, kFail, Returns{"service handle"})                        \
    X(OpenServiceW, nullptr, ERROR_ACCESS_DENIED, kFail, Returns{"service handle"})                          \
    X(CloseServiceHandle, FALSE, ERROR_INVALID_HANDLE, kReleaseAndFail, Releases{"service handle"})          \
    X(QueryServiceStatusEx, FALSE, ERROR_ACCESS_DENIED, kFail, None{})                                       \
    X(StartServiceW, FALSE, ERROR_ACCESS_DENIED, kFail, None{})                                              \
    X(ControlService, FALSE, ERROR_ACCESS_DENIED, kFail, None{})                                             \
    X(QueryServiceConfigW, FALSE, ERROR_ACCESS_DENIED, kFail, None{})                                        \
    X(ChangeServiceConfigW, FALSE, ERROR_ACCESS_DENIED, kFail, None{})                                       \
    X(NotifyServiceStatusChangeW, ERROR_SERVICE_NOTIFY_CLIENT_LAGGING, 0, kFail, None{})                     \
    X(CoInitializeEx, E_OUTOFMEMORY, 0, kFail, ComEntered{})                                                 \
    X(CoCreateInstance, E_OUTOFMEMORY, 0, kFail, None{})                                                     \
    X(CoUninitialize, 0, 0, kFail, ComLeft{})                                                                \
    X(CreateStreamOnHGlobal, E_OUTOFMEMORY, 0, kFail, None{})                                                \
    X(SysAllocString, nullptr, ERROR_NOT_ENOUGH_MEMORY, kFail, Returns{"string"})                            \
    X(SysFreeString, 0, 0, kFail, FreedString{})

#define PW_FAULT_COUNT(...) +1
constexpr size_t kTableLines = 0 PW_FAULT_TABLE(PW_FAULT_COUNT);
static_assert(sizeof(pw::PlatformApi) == kTableLines * sizeof(std::function<void()>),
              "every entry of the platform table needs a line in the fault table");
} // namespace

FaultInjector::FaultInjector(long failAt) : m_saved(pw::Api()), m_failAt(failAt)
{
#define PW_FAULT_WRAP(name, failure, error, mode, observer)                                                  \
    Wrap(*this, &pw::PlatformApi::name, #name, failure, error, mode, observer);                              \
    lines.insert(&(pw::Api().name));
    std::set<const void*> lines;
    PW_FAULT_TABLE(PW_FAULT_WRAP)
    if (lines.size() != kTableLines)
    {
        std::fprintf(stderr, "FaultInjector: an entry of the platform table has two lines\n");
        std::abort();
    }
}

FaultInjector::~FaultInjector()
{
    pw::Api() = m_saved;
}

bool FaultInjector::enter(const char* entry)
{
    m_calls.push_back(entry);
    if (static_cast<long>(m_calls.size()) - 1 != m_failAt)
    {
        return false;
    }
    m_failed = entry;
    return true;
}

std::vector<std::string> FaultInjector::unbalanced() const
{
    std::vector<std::string> result;
    for (const auto& held : m_held)
    {
        if (held.second != 0)
        {
            char line[128] = {};
            std::snprintf(line, sizeof(line), "%+ld %s %p", held.second, held.first.first.c_str(),
                          held.first.second);
            result.push_back(line);
        }
    }
    return result;
}
