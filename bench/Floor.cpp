// The platform work of one run of the tool, done directly and nothing else: open the event log (the
// event source, and the two message modules that every run loads for its error descriptions), find
// the common application data folder through the shell, write a small file there through a
// temporary file and a rename, read it back through one handle and parse its bytes with the SAX 6.0
// reader over COM, report one event-log entry. Given a service's name, it then restarts that service
// as the tool restarts the agent (the restart floor): the stop control, a wait on the service control
// manager's notification until it has stopped, the start, and a wait until it runs. Exits with 0 when
// all of it worked.
#include <windows.h>

#include <msxml2.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "vpn/Common/ProductVersion.h"
#include "vpn/Common/Xml/SaxIdentifiers.h"

namespace
{
constexpr char kDocument[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                             "<PathweaveLocalPolicy pwversion=\"" PW_VERSION_TEXT "\">\r\n"
                             "  <FipsMode>true</FipsMode>\r\n"
                             "</PathweaveLocalPolicy>\r\n";

bool WriteThroughRename(const std::wstring& path)
{
    const std::wstring temporary = path + L".tmp";
    const HANDLE file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        return false;
    }
    DWORD written = 0;
    const bool wrote = ::WriteFile(file, kDocument, sizeof(kDocument) - 1, &written, nullptr) &&
                       written == sizeof(kDocument) - 1 && ::FlushFileBuffers(file);
    const bool closed = ::CloseHandle(file) != FALSE;
    return wrote && closed &&
           ::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

// Reads the file through one handle and parses its bytes from memory, as the tool's read-back does.
bool Parse(const std::wstring& path)
{
    const HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        return false;
    }
    char bytes[sizeof(kDocument)] = {};
    DWORD got = 0;
    const bool read = ::ReadFile(file, bytes, sizeof(bytes), &got, nullptr) != FALSE;
    ::CloseHandle(file);
    if (!read || FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE)))
    {
        return false;
    }
    IStream* stream = nullptr;
    ISAXXMLReader* reader = nullptr;
    bool parsed = SUCCEEDED(::CreateStreamOnHGlobal(nullptr, TRUE, &stream)) &&
                  SUCCEEDED(stream->Write(bytes, got, nullptr)) &&
                  SUCCEEDED(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr)) &&
                  SUCCEEDED(::CoCreateInstance(kCLSID_SAXXMLReader60, nullptr, CLSCTX_INPROC_SERVER,
                                               kIID_ISAXXMLReader, reinterpret_cast<void**>(&reader)));
    if (parsed)
    {
        VARIANT source = {};
        source.vt = VT_UNKNOWN;
        source.punkVal = stream;
        parsed = SUCCEEDED(reader->parse(source));
    }
    if (reader != nullptr)
    {
        reader->Release();
    }
    if (stream != nullptr)
    {
        stream->Release();
    }
    ::CoUninitialize();
    return parsed;
}

// The common application data folder, from the shell loaded at run time and kept loaded for the rest
// of the process, as the tool does.
std::wstring CommonAppDataFolder()
{
    using GetFolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
    const HMODULE shell = ::LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (shell == nullptr)
    {
        return std::wstring();
    }
    const auto getFolderPath =
        reinterpret_cast<GetFolderPath>(reinterpret_cast<void*>(::GetProcAddress(shell, "SHGetFolderPathW")));
    wchar_t folder[MAX_PATH] = {};
    const bool found = getFolderPath != nullptr &&
                       SUCCEEDED(getFolderPath(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, folder));
    return found ? std::wstring(folder) : std::wstring();
}

void CALLBACK Notified(PVOID buffer)
{
    *static_cast<bool*>(static_cast<SERVICE_NOTIFYW*>(buffer)->pContext) = true;
}

// Registers for the state's notification until a callback reports that state; the callbacks run in
// the alertable wait. The buffer is static: it must outlive the service handle's registration.
bool WaitFor(SC_HANDLE service, DWORD state)
{
    static SERVICE_NOTIFYW notify;
    static bool notified;
    do
    {
        notify = SERVICE_NOTIFYW{};
        notify.dwVersion = SERVICE_NOTIFY_STATUS_CHANGE;
        notify.pfnNotifyCallback = Notified;
        notify.pContext = &notified;
        notified = false;
        if (::NotifyServiceStatusChangeW(service, 1u << (state - 1), &notify) != ERROR_SUCCESS)
        {
            return false;
        }
        while (!notified)
        {
            if (::SleepEx(60000, TRUE) != WAIT_IO_COMPLETION)
            {
                return false;
            }
        }
    } while (notify.dwNotificationStatus == ERROR_SUCCESS && notify.ServiceStatus.dwCurrentState != state);
    return notify.dwNotificationStatus == ERROR_SUCCESS;
}

bool Restart(const wchar_t* name)
{
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, GENERIC_EXECUTE);
    const SC_HANDLE service =
        manager == nullptr
            ? nullptr
            : ::OpenServiceW(manager, name, SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP);
    SERVICE_STATUS status = {};
    const bool restarted = service != nullptr && ::ControlService(service, SERVICE_CONTROL_STOP, &status) &&
                           WaitFor(service, SERVICE_STOPPED) && ::StartServiceW(service, 0, nullptr) &&
                           WaitFor(service, SERVICE_RUNNING);
    if (service != nullptr)
    {
        ::CloseServiceHandle(service);
    }
    if (manager != nullptr)
    {
        ::CloseServiceHandle(manager);
    }
    return restarted;
}

HMODULE LoadMessageModule(const wchar_t* name)
{
    return ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

int Run(HANDLE source)
{
    const std::wstring folder = CommonAppDataFolder();
    if (folder.empty())
    {
        return 1;
    }
    const std::wstring path = folder + L"\\pwbench-floor.xml";
    if (!WriteThroughRename(path))
    {
        return 2;
    }
    if (!Parse(path))
    {
        return 3;
    }
    const char* strings[] = {"pwbench floor run"};
    return ::ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 1, 1, nullptr, 1, 0, strings, nullptr) ? 0 : 4;
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    const HANDLE source = ::RegisterEventSourceA(nullptr, "pwbench");
    const HMODULE wininet = LoadMessageModule(L"wininet.dll");
    const HMODULE winhttp = LoadMessageModule(L"winhttp.dll");
    int result = source == nullptr || wininet == nullptr || winhttp == nullptr ? 5 : Run(source);
    if (result == 0 && argc > 1 && !Restart(argv[1]))
    {
        result = 6;
    }
    if (winhttp != nullptr)
    {
        ::FreeLibrary(winhttp);
    }
    if (wininet != nullptr)
    {
        ::FreeLibrary(wininet);
    }
    if (source != nullptr && !::DeregisterEventSource(source))
    {
        return 4;
    }
    return result;
}
