#pragma once

#include <string>
#include <vector>

// A fresh directory under the user's temporary folder, removed with its contents when the
// holder is destroyed. Names are unique per process and per holder.
class TempDirectory
{
public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    // The directory's full path without a trailing backslash.
    const std::wstring& path() const { return m_path; }
    // path() + "\" + name.
    std::wstring join(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

// Whole-file helpers for checks on disk. ReadFileBytes gives an empty text for a missing file.
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// The names of the entries of a directory, sorted.
std::vector<std::wstring> ListDirectory(const std::wstring& path);
// The folder of the running test program, with a trailing backslash: the tool and the stand-in agent
// are built beside it.
std::wstring BuildDirectory();

// Makes a directory the process's current directory for its lifetime.
class ScopedCurrentDirectory
{
public:
    explicit ScopedCurrentDirectory(const std::wstring& path);
    ~ScopedCurrentDirectory();
    ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
    ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

private:
    std::wstring m_saved;
};
