#include "vpn/Common/Xml/LocalPWPolicyTable.h"

namespace
{
constexpr wchar_t kTrue[] = L"true";

// The lower-case form of an allowed value, which is plain ASCII.
std::wstring AsciiLowerCase(std::wstring text)
{
    for (wchar_t& c : text)
    {
        if (c >= L'A' && c <= L'Z')
        {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    return text;
}

struct StoreText
{
    const PolicyDefinition& policy;
    const std::wstring& text;
    LocalPWPolicyInfo& record;

    void operator()(PolicyFlag flag) const { record.*flag = text == kTrue; }

    void operator()(const PolicyCode& code) const
    {
        const std::vector<std::wstring>& values = policy.allowedValues;
        for (size_t i = 0; i < values.size(); ++i)
        {
            if (text == values[i] || (code.lowerCaseToo && text == AsciiLowerCase(values[i])))
            {
                record.*code.field = static_cast<std::int32_t>(i);
                return;
            }
        }
    }

    void operator()(const PolicyBits& mask) const
    {
        if (text == kTrue)
        {
            record.*mask.field |= mask.bits;
        }
    }

    void operator()(PolicyList list) const { (record.*list).push_back(text); }
};
} // namespace

void PolicyDefinition::store(const std::wstring& text, LocalPWPolicyInfo& record) const
{
    std::visit(StoreText{*this, text, record}, field);
}

const std::map<std::wstring, PolicyDefinition>& LocalPWPolicyTable::byAbbreviation()
{
    using R = LocalPWPolicyInfo;
    static const std::vector<std::wstring> falseTrue = {L"false", L"true"};
    static const std::vector<std::wstring> trueFalse = {L"true", L"false"};
    // The position of a code policy's value is its code in the record.
    static const std::map<std::wstring, PolicyDefinition> table = {
        {L"fm", {L"FipsMode", false, falseTrue, &R::FipsMode}},
        {L"bd", {L"BypassDownloader", false, falseTrue, &R::BypassDownloader}},
        {L"rwl", {L"RestrictWebLaunch", false, falseTrue, &R::RestrictWebLaunch}},
        {L"sct", {L"StrictCertificateTrust", false, falseTrue, &R::StrictCertificateTrust}},
        {L"ecc", {L"EnableCRLCheck", false, trueFalse, &R::EnableCRLCheck}},
        {L"rpc",
         {L"RestrictPreferenceCaching",
          false,
          {L"false", L"Credentials", L"Thumbprints", L"CredentialsAndThumbprints", L"All"},
          PolicyCode{&R::RestrictPreferenceCaching, false}}},
        // The reader also takes the lower-case forms that earlier files hold.
        {L"rtp",
         {L"RestrictTunnelProtocols",
          false,
          {L"false", L"TLS", L"IPSec"},
          PolicyCode{&R::RestrictTunnelProtocols, true}}},
        {L"efn",
         {L"ExcludeFirefoxNSSCertStore", false, falseTrue,
          PolicyBits{&R::excludedCertStores, R::kExcludeFirefoxNSSCertStore}}},
        {L"epf",
         {L"ExcludePemFileCertStore", false, falseTrue,
          PolicyBits{&R::excludedCertStores, R::kExcludePemFileCertStore}}},
        {L"emn",
         {L"ExcludeMacNativeCertStore", false, falseTrue,
          PolicyBits{&R::excludedCertStores, R::kExcludeMacNativeCertStore}}},
        {L"ewn",
         {L"ExcludeWinNativeCertStore", false, falseTrue,
          PolicyBits{&R::excludedCertStores, R::kExcludeWinNativeCertStore}}},
        {L"upsu",
         {L"AllowSoftwareUpdatesFromAnyServer", true, trueFalse, &R::AllowSoftwareUpdatesFromAnyServer}},
        {L"upcu",
         {L"AllowComplianceModuleUpdatesFromAnyServer", true, trueFalse,
          &R::AllowComplianceModuleUpdatesFromAnyServer}},
        {L"upvp",
         {L"AllowVPNProfileUpdatesFromAnyServer", true, trueFalse, &R::AllowVPNProfileUpdatesFromAnyServer}},
        {L"upip",
         {L"AllowZKRProfileUpdatesFromAnyServer", true, trueFalse, &R::AllowZKRProfileUpdatesFromAnyServer}},
        {L"upsp",
         {L"AllowServiceProfileUpdatesFromAnyServer", true, trueFalse,
          &R::AllowServiceProfileUpdatesFromAnyServer}},
        // Free text: a list of server names, split when written.
        {L"upal", {kAuthorizedServerListElement, true, {}, &R::authorizedServers}},
    };
    return table;
}

const PolicyDefinition* LocalPWPolicyTable::findByName(const std::wstring& name)
{
    const auto* entry = entryNamed(name);
    return entry != nullptr ? &entry->second : nullptr;
}

std::wstring LocalPWPolicyTable::abbreviationOf(const std::wstring& name)
{
    const auto* entry = entryNamed(name);
    return entry != nullptr ? entry->first : std::wstring();
}

const std::pair<const std::wstring, PolicyDefinition>* LocalPWPolicyTable::entryNamed(
    const std::wstring& name)
{
    for (const auto& entry : byAbbreviation())
    {
        if (entry.second.policyName == name)
        {
            return &entry;
        }
    }
    return nullptr;
}
