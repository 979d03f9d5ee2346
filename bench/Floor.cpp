// The platform work of one run of the tool, done directly and nothing else: write a small file
// through a temporary file and a rename, read it back through one handle and parse its bytes with
// the SAX 6.0 reader over COM, report one event-log entry. Exits with 0 when all of it worked.
#include <windows.h>

#include <msxml2.h>
#include <objbase.h>

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

bool Report()
{
    const HANDLE source = ::RegisterEventSourceA(nullptr, "pwbench");
    if (source == nullptr)
    {
        return false;
    }
    const char* strings[] = {"pwbench floor run"};
    const bool reported =
        ::ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 1, 1, nullptr, 1, 0, strings, nullptr) != FALSE;
    return ::DeregisterEventSource(source) && reported;
}
} // namespace

int wmain()
{
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH)
    {
        return 1;
    }
    const std::wstring path = std::wstring(folder) + L"pwbench-floor.xml";
    if (!WriteThroughRename(path))
    {
        return 2;
    }
    if (!Parse(path))
    {
        return 3;
    }
    return Report() ? 0 : 4;
}
