#include "TempDirectory.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

TempDirectory::TempDirectory()
{
    static long counter = 0;
    wchar_t base[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, base);
    std::wstring root = base;
    if (!root.empty() && root.back() == L'\\')
    {
        root.pop_back();
    }
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        const std::wstring candidate = root + L"\\pwtest-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                       std::to_wstring(++counter) + L"-" + std::to_wstring(::GetTickCount());
        if (::CreateDirectoryW(candidate.c_str(), nullptr))
        {
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

TempDirectory::~TempDirectory()
{
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(m_path), ignored);
}

std::string ReadFileBytes(const std::wstring& path)
{
    // Shares everything, so that a reader never stands in the way of the writer it observes. A file
    // that its writer still holds unshared (the tool's new policy, from its rename to its close) is
    // waited for, as the tool's own reader does.
    std::string bytes;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt)
    {
        file =
            ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_SHARING_VIOLATION)
        {
            return bytes;
        }
        if (file == INVALID_HANDLE_VALUE)
        {
            ::Sleep(10);
        }
    }
    if (file == INVALID_HANDLE_VALUE)
    {
        return bytes;
    }
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
    {
        bytes.append(buffer, read);
    }
    ::CloseHandle(file);
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        return false;
    }
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok && written == bytes.size();
}

std::vector<std::wstring> ListDirectory(const std::wstring& path)
{
    std::vector<std::wstring> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(path), error))
    {
        names.push_back(entry.path().filename().wstring());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring BuildDirectory()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory = path;
    return directory.substr(0, directory.find_last_of(L'\\') + 1);
}

ScopedCurrentDirectory::ScopedCurrentDirectory(const std::wstring& path)
{
    wchar_t saved[MAX_PATH + 1] = {};
    ::GetCurrentDirectoryW(MAX_PATH, saved);
    m_saved = saved;
    ::SetCurrentDirectoryW(path.c_str());
}

ScopedCurrentDirectory::~ScopedCurrentDirectory()
{
    ::SetCurrentDirectoryW(m_saved.c_str());
}
