#pragma once

// The product's data folder, a reference-counted process-wide singleton. CreateSingletonInstance
// hands out the first reference; every GetInstance that returns an instance adds one, and every
// ReleaseInstance of it removes one. The release of the last reference deletes the instance.

#include <string>

#include "vpn/Common/Logging/ResultCodes.h"

class CStoragePath
{
public:
    // instance receives the singleton with one reference for the caller, or null on failure.
    [[nodiscard]] static ResultCode CreateSingletonInstance(CStoragePath*& instance);
    // The singleton with one more reference, or null when there is none.
    static CStoragePath* GetInstance();
    static void ReleaseInstance(CStoragePath* instance);
    // The number of references to the registered singleton (0 when there is none).
    static long ReferenceCount();

    // The common application data folder followed by the product's folder, ending in a backslash,
    // or an empty string when the folder is unknown.
    std::wstring GetMainPath() const;
    // The product's folder below the common application data folder, beginning and ending in a
    // backslash.
    const std::wstring& GetRelativePath() const { return m_relativePath; }

    CStoragePath(const CStoragePath&) = delete;
    CStoragePath& operator=(const CStoragePath&) = delete;

private:
    explicit CStoragePath(ResultCode& result);
    ~CStoragePath() = default;

    std::wstring m_relativePath;
};
