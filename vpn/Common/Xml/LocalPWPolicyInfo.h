#pragma once

// The machine's local policy in memory: one value per policy of the local policy file, the
// file's version and the servers from which updates are authorized. Copies are deep.

#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

class LocalPWPolicyInfo
{
public:
    // Codes of RestrictTunnelProtocols.
    static constexpr std::int32_t kTunnelUnrestricted = 0;
    static constexpr std::int32_t kTunnelTls = 1;
    static constexpr std::int32_t kTunnelIpsec = 2;

    // Bits that each certificate-store exclusion adds to the exclusion mask.
    static constexpr std::uint32_t kExcludeWinNativeCertStore = 0xC3;
    static constexpr std::uint32_t kExcludeMacNativeCertStore = 0x2104;
    static constexpr std::uint32_t kExcludePemFileCertStore = 0xC00;
    static constexpr std::uint32_t kExcludeFirefoxNSSCertStore = 0x8;

    virtual ~LocalPWPolicyInfo() = default;

    // Makes this record equal to other; the server list is replaced, not appended to.
    virtual void copyFrom(const LocalPWPolicyInfo& other) { *this = other; }
    // Puts every field back to its default.
    void reset() { *this = LocalPWPolicyInfo(); }

    bool operator==(const LocalPWPolicyInfo& other) const;
    bool operator!=(const LocalPWPolicyInfo& other) const { return !(*this == other); }

    bool getFipsMode() const { return FipsMode; }
    const std::wstring& getVersion() const { return version; }
    bool getBypassDownloader() const { return BypassDownloader; }
    bool getRestrictWebLaunch() const { return RestrictWebLaunch; }
    bool getStrictCertificateTrust() const { return StrictCertificateTrust; }
    bool getEnableCRLCheck() const { return EnableCRLCheck; }
    std::int32_t getRestrictPreferenceCaching() const { return RestrictPreferenceCaching; }
    std::int32_t getRestrictTunnelProtocols() const { return RestrictTunnelProtocols; }
    std::uint32_t getExcludedCertStores() const { return excludedCertStores; }
    bool getAllowSoftwareUpdatesFromAnyServer() const { return AllowSoftwareUpdatesFromAnyServer; }
    bool getAllowComplianceModuleUpdatesFromAnyServer() const
    {
        return AllowComplianceModuleUpdatesFromAnyServer;
    }
    bool getAllowVPNProfileUpdatesFromAnyServer() const { return AllowVPNProfileUpdatesFromAnyServer; }
    bool getAllowZKRProfileUpdatesFromAnyServer() const { return AllowZKRProfileUpdatesFromAnyServer; }
    bool getAllowServiceProfileUpdatesFromAnyServer() const
    {
        return AllowServiceProfileUpdatesFromAnyServer;
    }
    const std::vector<std::wstring>& getAuthorizedServers() const { return authorizedServers; }

    void setVersion(std::wstring value) { version = std::move(value); }
    void setFipsMode(bool value) { FipsMode = value; }
    void setBypassDownloader(bool value) { BypassDownloader = value; }
    void setRestrictWebLaunch(bool value) { RestrictWebLaunch = value; }
    void setStrictCertificateTrust(bool value) { StrictCertificateTrust = value; }
    void setEnableCRLCheck(bool value) { EnableCRLCheck = value; }
    void setRestrictPreferenceCaching(std::int32_t value) { RestrictPreferenceCaching = value; }
    void setRestrictTunnelProtocols(std::int32_t value) { RestrictTunnelProtocols = value; }
    // ORs mask into the exclusion mask; bits are never cleared.
    void addExcludedCertStores(std::uint32_t mask) { excludedCertStores |= mask; }
    void setAllowSoftwareUpdatesFromAnyServer(bool value) { AllowSoftwareUpdatesFromAnyServer = value; }
    void setAllowComplianceModuleUpdatesFromAnyServer(bool value)
    {
        AllowComplianceModuleUpdatesFromAnyServer = value;
    }
    void setAllowVPNProfileUpdatesFromAnyServer(bool value) { AllowVPNProfileUpdatesFromAnyServer = value; }
    void setAllowZKRProfileUpdatesFromAnyServer(bool value) { AllowZKRProfileUpdatesFromAnyServer = value; }
    void setAllowServiceProfileUpdatesFromAnyServer(bool value)
    {
        AllowServiceProfileUpdatesFromAnyServer = value;
    }
    // Appends server; duplicates and empty names are kept.
    void addAuthorizedServer(std::wstring server) { authorizedServers.push_back(std::move(server)); }

private:
    // The policy table reads the file's text into the fields.
    friend class LocalPWPolicyTable;

    auto fields() const
    {
        return std::tie(version, FipsMode, BypassDownloader, RestrictWebLaunch, StrictCertificateTrust,
                        EnableCRLCheck, RestrictPreferenceCaching, RestrictTunnelProtocols,
                        excludedCertStores, AllowSoftwareUpdatesFromAnyServer,
                        AllowComplianceModuleUpdatesFromAnyServer, AllowVPNProfileUpdatesFromAnyServer,
                        AllowZKRProfileUpdatesFromAnyServer, AllowServiceProfileUpdatesFromAnyServer,
                        authorizedServers);
    }

    std::wstring version;
    bool FipsMode = false;
    bool BypassDownloader = false;
    bool RestrictWebLaunch = false;
    bool StrictCertificateTrust = false;
    bool EnableCRLCheck = false;
    std::int32_t RestrictPreferenceCaching = 0;
    std::int32_t RestrictTunnelProtocols = kTunnelUnrestricted;
    std::uint32_t excludedCertStores = 0;
    bool AllowSoftwareUpdatesFromAnyServer = true;
    bool AllowComplianceModuleUpdatesFromAnyServer = true;
    bool AllowVPNProfileUpdatesFromAnyServer = true;
    bool AllowZKRProfileUpdatesFromAnyServer = true;
    bool AllowServiceProfileUpdatesFromAnyServer = true;
    std::vector<std::wstring> authorizedServers;
};

inline bool LocalPWPolicyInfo::operator==(const LocalPWPolicyInfo& other) const
{
    return fields() == other.fields();
}
