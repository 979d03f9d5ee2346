// The platform work of one run of the tool, done directly and nothing else: write a small file
// through a temporary file and a rename, create the SAX 6.0 reader over COM and parse that file,
// report one event-log entry. Exits with 0 when all of it worked.
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

bool Parse(const std::wstring& path)
{
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE)))
    {
        return false;
    }
    ISAXXMLReader* reader = nullptr;
    bool parsed = SUCCEEDED(::CoCreateInstance(kCLSID_SAXXMLReader60, nullptr, CLSCTX_INPROC_SERVER,
                                               kIID_ISAXXMLReader, reinterpret_cast<void**>(&reader)));
    if (parsed)
    {
        parsed = SUCCEEDED(reader->parseURL(path.c_str()));
        reader->Release();
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
