#include "HardenorProcess.h"

#include <shlobj.h>

namespace
{
std::wstring TempFile(const wchar_t* prefix)
{
    wchar_t directory[MAX_PATH] = {};
    wchar_t path[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, directory);
    ::GetTempFileNameW(directory, prefix, 0, path);
    return path;
}

std::wstring Quote(const std::wstring& argument)
{
    // Arguments of the tests hold no quotes or trailing backslashes; quoting keeps blanks intact.
    if (!argument.empty() && argument.find_first_of(L" \t") == std::wstring::npos)
    {
        return argument;
    }
    return L"\"" + argument + L"\"";
}

HANDLE InheritableFile(const std::wstring& path, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, TRUE};
    return ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &security, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}
} // namespace

HardenorProcess::HardenorProcess(const std::vector<std::wstring>& arguments, const std::string& input)
    : m_inputPath(TempFile(L"hin")), m_outputPath(TempFile(L"hou")), m_errorPath(TempFile(L"her"))
{
    WriteFileBytes(m_inputPath, input);
    std::wstring commandLine = Quote(BuildDirectory() + L"hardenor.exe");
    for (const std::wstring& argument : arguments)
    {
        commandLine += L" " + Quote(argument);
    }

    HANDLE in = InheritableFile(m_inputPath, GENERIC_READ, OPEN_EXISTING);
    HANDLE out = InheritableFile(m_outputPath, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = InheritableFile(m_errorPath, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION info = {};
    std::wstring mutableLine = commandLine;
    if (::CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                         &info))
    {
        m_process = info.hProcess;
        ::CloseHandle(info.hThread);
    }
    ::CloseHandle(in);
    ::CloseHandle(out);
    ::CloseHandle(err);
}

HardenorProcess::~HardenorProcess()
{
    if (m_process != nullptr)
    {
        ::CloseHandle(m_process);
    }
    ::DeleteFileW(m_inputPath.c_str());
    ::DeleteFileW(m_outputPath.c_str());
    ::DeleteFileW(m_errorPath.c_str());
}

void HardenorProcess::kill()
{
    if (m_process != nullptr)
    {
        ::TerminateProcess(m_process, 9);
        ::WaitForSingleObject(m_process, 30000);
    }
}

HardenorResult HardenorProcess::wait(DWORD timeoutMs)
{
    HardenorResult result;
    result.exitCode = 0xDEADBEEF;
    if (m_process == nullptr)
    {
        return result;
    }
    if (::WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0)
    {
        ::TerminateProcess(m_process, 0xDEADBEEF);
        ::WaitForSingleObject(m_process, 5000);
    }
    ::GetExitCodeProcess(m_process, &result.exitCode);
    result.output = ReadFileBytes(m_outputPath);
    result.errors = ReadFileBytes(m_errorPath);
    return result;
}

HardenorResult RunHardenor(const std::vector<std::wstring>& arguments, const std::string& input)
{
    HardenorProcess process(arguments, input);
    return process.wait();
}

std::wstring FolderPath(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, csidl, nullptr, 0, path);
    return path;
}

std::wstring PolicyDirectory()
{
    return FolderPath(CSIDL_COMMON_APPDATA) + L"\\Veskar\\Veskar Pathweave Roamguard Client\\";
}

std::wstring PolicyFilePath()
{
    return PolicyDirectory() + L"PathweaveLocalPolicy.xml";
}

std::wstring AgentDirectory()
{
    return FolderPath(CSIDL_PROGRAM_FILES) + L"\\Veskar\\Veskar Pathweave Roamguard Client\\";
}

std::wstring AgentExecutablePath()
{
    return AgentDirectory() + L"zirodava.exe";
}

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void CreateDirectories(const std::wstring& path)
{
    for (size_t i = path.find(L'\\', 3); i != std::wstring::npos; i = path.find(L'\\', i + 1))
    {
        ::CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    }
}

void RemovePath(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
    {
        return;
    }
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
    {
        ::RemoveDirectoryW(path.c_str());
    }
    else
    {
        ::DeleteFileW(path.c_str());
    }
}

std::vector<std::wstring> FindFiles(const std::wstring& directory, const std::wstring& pattern)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((directory + pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
    {
        return names;
    }
    do
    {
        names.push_back(data.cFileName);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return names;
}
