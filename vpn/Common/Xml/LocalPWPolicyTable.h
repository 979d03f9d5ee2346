#pragma once

// The policies that the local policy file can carry: per policy its abbreviation on the command
// line, its element name, whether it lies inside the update group, the values it accepts and the
// field of LocalPWPolicyInfo that its text is read into. Argument checking, writing, reading back
// and the usage text all work from this one table.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "vpn/Common/Xml/LocalPWPolicyInfo.h"

// Element names of the file's structure around the policies.
constexpr wchar_t kUpdatePolicyElement[] = L"UpdatePolicy";
constexpr wchar_t kAuthorizedServerListElement[] = L"AuthorizedServerList";
constexpr wchar_t kServerNameElement[] = L"ServerName";

// A boolean field: exactly "true" sets it, any other text clears it.
using PolicyFlag = bool LocalPWPolicyInfo::*;

// A code field: the code is the position of the text in the policy's allowed values, matched
// exactly, or also in its lower-case form where the policy takes that; other text keeps the field.
struct PolicyCode
{
    std::int32_t LocalPWPolicyInfo::*field;
    bool lowerCaseToo;
};

// A bit mask field: exactly "true" adds the bits; nothing clears them.
struct PolicyBits
{
    std::uint32_t LocalPWPolicyInfo::*field;
    std::uint32_t bits;
};

// A list field: the text of each server name inside the policy's element is appended.
using PolicyList = std::vector<std::wstring> LocalPWPolicyInfo::*;

using PolicyField = std::variant<PolicyFlag, PolicyCode, PolicyBits, PolicyList>;

struct PolicyDefinition
{
    // The element name under which the value is written.
    std::wstring policyName;
    // True when the element belongs inside the update group element.
    bool updateGroup = false;
    // Accepted values in their written form; empty when any non-empty text is accepted.
    std::vector<std::wstring> allowedValues;
    // Where the element's text goes when the file is read back.
    PolicyField field;

    // Stores text read from the policy's element into record.
    void store(const std::wstring& text, LocalPWPolicyInfo& record) const;
};

class LocalPWPolicyTable
{
public:
    // The known policies by abbreviation (plain, case-sensitive order of 16-bit code units).
    static const std::map<std::wstring, PolicyDefinition>& byAbbreviation();
    // The policy written under element name, or null.
    static const PolicyDefinition* findByName(const std::wstring& name);
    // The abbreviation of the policy written under element name; empty when there is none.
    static std::wstring abbreviationOf(const std::wstring& name);

private:
    // The table's entry of the policy written under element name, or null.
    static const std::pair<const std::wstring, PolicyDefinition>* entryNamed(const std::wstring& name);
};
