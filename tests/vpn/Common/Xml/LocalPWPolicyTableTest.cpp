#include "vpn/Common/Xml/LocalPWPolicyTable.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "vpn/Common/Platform/StringConvert.h"

namespace
{
struct Row
{
    std::wstring abbreviation;
    const PolicyDefinition* policy;
};

void PrintTo(const Row& row, std::ostream* os)
{
    *os << ToUtf8(row.abbreviation);
}

std::vector<Row> Rows()
{
    std::vector<Row> rows;
    for (const auto& entry : LocalPWPolicyTable::byAbbreviation())
    {
        rows.push_back({entry.first, &entry.second});
    }
    return rows;
}

// The records that the policy's values (or, for free text, one server name) read into, as far as
// they differ from a fresh record.
std::vector<LocalPWPolicyInfo> ChangedRecords(const PolicyDefinition& policy)
{
    std::vector<std::wstring> texts = policy.allowedValues;
    if (texts.empty())
    {
        texts.push_back(L"vpn.example");
    }
    std::vector<LocalPWPolicyInfo> changed;
    for (const std::wstring& text : texts)
    {
        LocalPWPolicyInfo record;
        policy.store(text, record);
        if (record != LocalPWPolicyInfo())
        {
            changed.push_back(record);
        }
    }
    return changed;
}

std::string NameOf(const testing::TestParamInfo<Row>& info)
{
    return ToUtf8(info.param.abbreviation);
}
} // namespace

// A repeated abbreviation in the table's list would silently drop a policy.
TEST(PolicyTable, SeventeenPoliciesEachUnderItsOwnAbbreviationAndElement)
{
    std::set<std::wstring> names;
    for (const Row& row : Rows())
    {
        EXPECT_FALSE(row.abbreviation.empty());
        EXPECT_TRUE(names.insert(row.policy->policyName).second) << ToUtf8(row.policy->policyName);
        EXPECT_EQ(row.policy, LocalPWPolicyTable::findByName(row.policy->policyName));
    }
    EXPECT_EQ(17u, names.size());
    EXPECT_EQ(nullptr, LocalPWPolicyTable::findByName(L""));
    EXPECT_EQ(nullptr, LocalPWPolicyTable::findByName(L"fipsmode"));
    EXPECT_EQ(nullptr, LocalPWPolicyTable::findByName(kUpdatePolicyElement));
}

class PolicyTableRow : public testing::TestWithParam<Row>
{
};

// Every policy reaches a field of the record, and no two policies reach it the same way: a row
// pointing at another policy's field fails here.
TEST_P(PolicyTableRow, ReadsIntoAFieldOfItsOwn)
{
    const PolicyDefinition& policy = *GetParam().policy;
    const std::vector<LocalPWPolicyInfo> mine = ChangedRecords(policy);
    ASSERT_FALSE(mine.empty()) << "no value of the policy changes the record";
    for (const Row& other : Rows())
    {
        if (other.policy == &policy)
        {
            continue;
        }
        for (const LocalPWPolicyInfo& theirs : ChangedRecords(*other.policy))
        {
            for (const LocalPWPolicyInfo& record : mine)
            {
                EXPECT_NE(record, theirs) << "same change as " << ToUtf8(other.abbreviation);
            }
        }
    }
}

// Allowed values are matched ignoring case, so two that differ only in case could never both be
// chosen; the written form of each must be one the reader takes back.
TEST_P(PolicyTableRow, AllowedValuesDifferIgnoringCaseAndReadBackDistinctly)
{
    const PolicyDefinition& policy = *GetParam().policy;
    std::set<std::wstring> lowered;
    std::vector<LocalPWPolicyInfo> records;
    for (const std::wstring& value : policy.allowedValues)
    {
        std::wstring lower = value;
        for (wchar_t& c : lower)
        {
            c = static_cast<wchar_t>(towlower(c));
        }
        EXPECT_TRUE(lowered.insert(lower).second) << ToUtf8(value);

        LocalPWPolicyInfo record;
        policy.store(value, record);
        for (const LocalPWPolicyInfo& earlier : records)
        {
            EXPECT_NE(earlier, record) << ToUtf8(value) << " reads back like an earlier value";
        }
        records.push_back(record);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPolicy, PolicyTableRow, testing::ValuesIn(Rows()), NameOf);
