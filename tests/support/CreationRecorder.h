#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ScopedPlatformApi.h"

// One CreateDirectoryW or CreateFileW call that the product made through the platform table.
struct RecordedCreation
{
    std::wstring path;
    DWORD disposition = 0; // CreateFileW only
    DWORD share = 0;       // CreateFileW only
    DWORD flags = 0;       // CreateFileW only
    std::string sddl;      // owner and DACL of the descriptor passed, or "" without one
};

// Records the folders and files the product creates or opens, with the security descriptor each
// call passes (as SDDL), and passes every call on to the table entry it replaced. Restores the
// table when destroyed.
class CreationRecorder
{
public:
    CreationRecorder();
    CreationRecorder(const CreationRecorder&) = delete;
    CreationRecorder& operator=(const CreationRecorder&) = delete;

    const std::vector<RecordedCreation>& directories() const { return m_directories; }
    const std::vector<RecordedCreation>& files() const { return m_files; }
    // The CreateFileW calls with the given creation disposition.
    std::vector<RecordedCreation> files(DWORD disposition) const;

private:
    ScopedPlatformApi m_api;
    std::vector<RecordedCreation> m_directories;
    std::vector<RecordedCreation> m_files;
};

// The owner and DACL of a security descriptor as SDDL; "" when there is none.
std::string SddlOf(const SECURITY_ATTRIBUTES* attributes);

// Makes GetSecurityInfo report the owner sid (a string SID) for every object it is asked about.
void ReportOwner(const std::wstring& sid);
