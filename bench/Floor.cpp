// The platform work of one run of the tool, done directly and nothing else: open the event log (the
// event source, and the two message modules that every run loads for its error descriptions), find
// the common application data folder through the shell, write a small file there through a
// temporary file and a rename, read it back through one handle and parse its bytes with the SAX 6.0
// reader over COM, report one event-log entry. Exits with 0 when all of it worked.
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

int wmain()
{
    const HANDLE source = ::RegisterEventSourceA(nullptr, "pwbench");
    const HMODULE wininet = LoadMessageModule(L"wininet.dll");
    const HMODULE winhttp = LoadMessageModule(L"winhttp.dll");
    const int result = source == nullptr || wininet == nullptr || winhttp == nullptr ? 5 : Run(source);
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
