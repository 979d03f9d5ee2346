#include "PolicyFolderRedirect.h"

#include <windows.h>

#include <shlobj.h>

#include <cwchar>

namespace
{
constexpr int kCommonAppData = 0x23;

std::wstring g_redirectedFolder;

HRESULT WINAPI RedirectedGetFolderPath(HWND owner, int csidl, HANDLE token, DWORD flags, LPWSTR path)
{
    if (csidl == kCommonAppData)
    {
        wcsncpy(path, g_redirectedFolder.c_str(), MAX_PATH - 1);
        path[MAX_PATH - 1] = L'\0';
        return S_OK;
    }
    return ::SHGetFolderPathW(owner, csidl, token, flags, path);
}

CStoragePath* CreateStoragePath()
{
    CStoragePath* instance = nullptr;
    (void)CStoragePath::CreateSingletonInstance(instance);
    return instance;
}
} // namespace

PolicyFolderRedirect::PolicyFolderRedirect(const std::wstring& leaf)
    : m_folder(leaf.empty() ? m_root.path() : m_root.join(leaf)),
      m_shellFolder(OverrideShellFolderFunction(&RedirectedGetFolderPath)), m_storagePath(CreateStoragePath())
{
    (void)::CreateDirectoryW(m_folder.c_str(), nullptr);
    g_redirectedFolder = m_folder;
}

PolicyFolderRedirect::~PolicyFolderRedirect()
{
    g_redirectedFolder.clear();
}

std::wstring PolicyFolderRedirect::policyDirectory() const
{
    return m_folder + L"\\Veskar\\Veskar Pathweave Roamguard Client\\";
}

bool PolicyFolderRedirect::createPolicyDirectory() const
{
    return ::SHCreateDirectoryExW(nullptr, policyDirectory().c_str(), nullptr) == ERROR_SUCCESS;
}

std::wstring PolicyFolderRedirect::policyFile() const
{
    return policyDirectory() + L"PathweaveLocalPolicy.xml";
}
