#include "vpn/Common/Xml/LocalPWPolicyInfo.h"

LocalPWPolicyInfo::LocalPWPolicyInfo(const LocalPWPolicyInfo& other)
{
    copyFrom(other);
}

LocalPWPolicyInfo& LocalPWPolicyInfo::operator=(const LocalPWPolicyInfo& other)
{
    copyFrom(other);
    return *this;
}

void LocalPWPolicyInfo::copyFrom(const LocalPWPolicyInfo& other)
{
    if (&other == this)
    {
        return;
    }
    version = other.version;
    FipsMode = other.FipsMode;
    BypassDownloader = other.BypassDownloader;
    RestrictWebLaunch = other.RestrictWebLaunch;
    StrictCertificateTrust = other.StrictCertificateTrust;
    EnableCRLCheck = other.EnableCRLCheck;
    RestrictPreferenceCaching = other.RestrictPreferenceCaching;
    RestrictTunnelProtocols = other.RestrictTunnelProtocols;
    excludedCertStores = other.excludedCertStores;
    AllowSoftwareUpdatesFromAnyServer = other.AllowSoftwareUpdatesFromAnyServer;
    AllowComplianceModuleUpdatesFromAnyServer = other.AllowComplianceModuleUpdatesFromAnyServer;
    AllowVPNProfileUpdatesFromAnyServer = other.AllowVPNProfileUpdatesFromAnyServer;
    AllowZKRProfileUpdatesFromAnyServer = other.AllowZKRProfileUpdatesFromAnyServer;
    AllowServiceProfileUpdatesFromAnyServer = other.AllowServiceProfileUpdatesFromAnyServer;
    authorizedServers.clear();
    for (const std::wstring& server : other.authorizedServers)
    {
        authorizedServers.push_back(server);
    }
}

void LocalPWPolicyInfo::reset()
{
    version.clear();
    FipsMode = false;
    BypassDownloader = false;
    RestrictWebLaunch = false;
    StrictCertificateTrust = false;
    EnableCRLCheck = false;
    RestrictPreferenceCaching = 0;
    RestrictTunnelProtocols = kTunnelUnrestricted;
    excludedCertStores = 0;
    AllowSoftwareUpdatesFromAnyServer = true;
    AllowComplianceModuleUpdatesFromAnyServer = true;
    AllowVPNProfileUpdatesFromAnyServer = true;
    AllowZKRProfileUpdatesFromAnyServer = true;
    AllowServiceProfileUpdatesFromAnyServer = true;
    authorizedServers.clear();
}

bool LocalPWPolicyInfo::operator==(const LocalPWPolicyInfo& other) const
{
    return version == other.version && FipsMode == other.FipsMode &&
           BypassDownloader == other.BypassDownloader && RestrictWebLaunch == other.RestrictWebLaunch &&
           StrictCertificateTrust == other.StrictCertificateTrust && EnableCRLCheck == other.EnableCRLCheck &&
           RestrictPreferenceCaching == other.RestrictPreferenceCaching &&
           RestrictTunnelProtocols == other.RestrictTunnelProtocols &&
           excludedCertStores == other.excludedCertStores &&
           AllowSoftwareUpdatesFromAnyServer == other.AllowSoftwareUpdatesFromAnyServer &&
           AllowComplianceModuleUpdatesFromAnyServer == other.AllowComplianceModuleUpdatesFromAnyServer &&
           AllowVPNProfileUpdatesFromAnyServer == other.AllowVPNProfileUpdatesFromAnyServer &&
           AllowZKRProfileUpdatesFromAnyServer == other.AllowZKRProfileUpdatesFromAnyServer &&
           AllowServiceProfileUpdatesFromAnyServer == other.AllowServiceProfileUpdatesFromAnyServer &&
           authorizedServers == other.authorizedServers;
}
