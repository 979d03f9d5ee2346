#include "vpn/Common/Xml/LocalPWPolicyInfo.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/PolicyDocument.h"

namespace
{
// A record with every field away from its default.
LocalPWPolicyInfo FilledRecord()
{
    LocalPWPolicyInfo record;
    record.setVersion(kPolicyVersionW);
    record.setFipsMode(true);
    record.setBypassDownloader(true);
    record.setRestrictWebLaunch(true);
    record.setStrictCertificateTrust(true);
    record.setEnableCRLCheck(true);
    record.setRestrictPreferenceCaching(4);
    record.setRestrictTunnelProtocols(2);
    record.addExcludedCertStores(0xC00);
    record.setAllowSoftwareUpdatesFromAnyServer(false);
    record.setAllowComplianceModuleUpdatesFromAnyServer(false);
    record.setAllowVPNProfileUpdatesFromAnyServer(false);
    record.setAllowZKRProfileUpdatesFromAnyServer(false);
    record.setAllowServiceProfileUpdatesFromAnyServer(false);
    record.addAuthorizedServer(L"b.example");
    record.addAuthorizedServer(L"a.example");
    return record;
}
} // namespace

TEST(PolicyRecordDefaults, FreshRecordMatchesAResetOne)
{
    const LocalPWPolicyInfo fresh;
    EXPECT_FALSE(fresh.getFipsMode());
    EXPECT_FALSE(fresh.getBypassDownloader());
    EXPECT_FALSE(fresh.getRestrictWebLaunch());
    EXPECT_FALSE(fresh.getStrictCertificateTrust());
    EXPECT_FALSE(fresh.getEnableCRLCheck());
    EXPECT_EQ(0, fresh.getRestrictPreferenceCaching());
    EXPECT_EQ(0, fresh.getRestrictTunnelProtocols());
    EXPECT_EQ(0u, fresh.getExcludedCertStores());
    EXPECT_TRUE(fresh.getAllowSoftwareUpdatesFromAnyServer());
    EXPECT_TRUE(fresh.getAllowComplianceModuleUpdatesFromAnyServer());
    EXPECT_TRUE(fresh.getAllowVPNProfileUpdatesFromAnyServer());
    EXPECT_TRUE(fresh.getAllowZKRProfileUpdatesFromAnyServer());
    EXPECT_TRUE(fresh.getAllowServiceProfileUpdatesFromAnyServer());
    EXPECT_EQ(L"", fresh.getVersion());
    EXPECT_TRUE(fresh.getAuthorizedServers().empty());

    LocalPWPolicyInfo used = FilledRecord();
    ASSERT_NE(fresh, used);
    used.reset();
    EXPECT_EQ(fresh, used);
}

TEST(PolicyRecordCopy, CopyIsDeepAndKeepsServerOrder)
{
    LocalPWPolicyInfo source = FilledRecord();
    LocalPWPolicyInfo copy(source);
    EXPECT_EQ(source, copy);
    EXPECT_EQ((std::vector<std::wstring>{L"b.example", L"a.example"}), copy.getAuthorizedServers());

    source.addAuthorizedServer(L"c.example");
    source.setVersion(L"5");
    source.setFipsMode(false);
    EXPECT_EQ(2u, copy.getAuthorizedServers().size());
    EXPECT_EQ(kPolicyVersionW, copy.getVersion());
    EXPECT_TRUE(copy.getFipsMode());

    copy.addAuthorizedServer(L"d.example");
    EXPECT_EQ(3u, source.getAuthorizedServers().size());
}

TEST(PolicyRecordCopy, CopyFromReplacesTheServerListAndEveryField)
{
    LocalPWPolicyInfo target = FilledRecord();
    target.addAuthorizedServer(L"old.example");
    LocalPWPolicyInfo source;
    source.addAuthorizedServer(L"new.example");
    source.addAuthorizedServer(L"new.example");
    source.addAuthorizedServer(L"");

    target.copyFrom(source);
    EXPECT_EQ(source, target);
    EXPECT_EQ((std::vector<std::wstring>{L"new.example", L"new.example", L""}),
              target.getAuthorizedServers());

    // A record copied onto itself stays as it was.
    LocalPWPolicyInfo self = FilledRecord();
    self.copyFrom(self);
    EXPECT_EQ(FilledRecord(), self);
}

TEST(PolicyRecordCertStores, MaskOnlyGainsBits)
{
    LocalPWPolicyInfo record;
    record.addExcludedCertStores(0xC3);
    record.addExcludedCertStores(0x8);
    EXPECT_EQ(0xCBu, record.getExcludedCertStores());
    record.addExcludedCertStores(0);
    record.addExcludedCertStores(0x3);
    EXPECT_EQ(0xCBu, record.getExcludedCertStores());
    record.addExcludedCertStores(0x2104);
    EXPECT_EQ(0x21CFu, record.getExcludedCertStores());
}

namespace
{
struct FieldChange
{
    std::string field;
    std::function<void(LocalPWPolicyInfo&)> change;
};

void PrintTo(const FieldChange& change, std::ostream* os)
{
    *os << change.field;
}

const std::vector<FieldChange> kFieldChanges = {
    {"version", [](LocalPWPolicyInfo& r) { r.setVersion(L"4"); }},
    {"FipsMode", [](LocalPWPolicyInfo& r) { r.setFipsMode(true); }},
    {"BypassDownloader", [](LocalPWPolicyInfo& r) { r.setBypassDownloader(true); }},
    {"RestrictWebLaunch", [](LocalPWPolicyInfo& r) { r.setRestrictWebLaunch(true); }},
    {"StrictCertificateTrust", [](LocalPWPolicyInfo& r) { r.setStrictCertificateTrust(true); }},
    {"EnableCRLCheck", [](LocalPWPolicyInfo& r) { r.setEnableCRLCheck(true); }},
    {"RestrictPreferenceCaching", [](LocalPWPolicyInfo& r) { r.setRestrictPreferenceCaching(1); }},
    {"RestrictTunnelProtocols", [](LocalPWPolicyInfo& r) { r.setRestrictTunnelProtocols(1); }},
    {"excludedCertStores", [](LocalPWPolicyInfo& r) { r.addExcludedCertStores(0x8); }},
    {"AllowSoftwareUpdatesFromAnyServer",
     [](LocalPWPolicyInfo& r) { r.setAllowSoftwareUpdatesFromAnyServer(false); }},
    {"AllowComplianceModuleUpdatesFromAnyServer",
     [](LocalPWPolicyInfo& r) { r.setAllowComplianceModuleUpdatesFromAnyServer(false); }},
    {"AllowVPNProfileUpdatesFromAnyServer",
     [](LocalPWPolicyInfo& r) { r.setAllowVPNProfileUpdatesFromAnyServer(false); }},
    {"AllowZKRProfileUpdatesFromAnyServer",
     [](LocalPWPolicyInfo& r) { r.setAllowZKRProfileUpdatesFromAnyServer(false); }},
    {"AllowServiceProfileUpdatesFromAnyServer",
     [](LocalPWPolicyInfo& r) { r.setAllowServiceProfileUpdatesFromAnyServer(false); }},
    {"authorizedServers", [](LocalPWPolicyInfo& r) { r.addAuthorizedServer(L""); }},
};

std::string FieldName(const testing::TestParamInfo<FieldChange>& info)
{
    return info.param.field;
}
} // namespace

class PolicyRecordField : public testing::TestWithParam<FieldChange>
{
};

// The comparison, the copy and the reset each cover every field: one that left a field out would
// let a change of that field go unseen, uncopied or kept.
TEST_P(PolicyRecordField, ChangeIsSeenCopiedAndReset)
{
    const LocalPWPolicyInfo fresh;
    LocalPWPolicyInfo changed;
    GetParam().change(changed);
    EXPECT_NE(fresh, changed);

    const LocalPWPolicyInfo copy(changed);
    EXPECT_EQ(changed, copy);
    LocalPWPolicyInfo copiedOnto;
    copiedOnto.copyFrom(changed);
    EXPECT_EQ(changed, copiedOnto);
    copiedOnto.copyFrom(fresh);
    EXPECT_EQ(fresh, copiedOnto);

    changed.reset();
    EXPECT_EQ(fresh, changed);
}

INSTANTIATE_TEST_SUITE_P(EveryField, PolicyRecordField, testing::ValuesIn(kFieldChanges), FieldName);
