#pragma once

// What the local policy file looks like from outside: its name, its root, its namespace, the schema
// it names and the version this tool writes; and the values that go into it.

#include <map>
#include <string>
#include <vector>

#include "vpn/Common/ProductVersion.h"

namespace LocalPWPolicyFormat
{
constexpr wchar_t kPolicyFileName[] = L"PathweaveLocalPolicy.xml";
constexpr wchar_t kSchemaFile[] = L"PathweaveLocalPolicy.xsd";
// The default namespace of the policy file.
constexpr wchar_t kPolicyNamespace[] = L"http://www.veskar.com/pathweave/LocalPolicy";
constexpr wchar_t kSchemaInstanceNamespace[] = L"http://www.w3.org/2001/XMLSchema-instance";
constexpr wchar_t kRootElement[] = L"PathweaveLocalPolicy";
constexpr wchar_t kVersionAttribute[] = L"pwversion";
// The version that this tool writes and compares a read file with.
constexpr wchar_t kCurrentVersion[] = PW_VERSION_TEXT_W;
} // namespace LocalPWPolicyFormat

// Policy name -> value, ordered by plain comparison of 16-bit code units.
using PolicyValues = std::map<std::wstring, std::wstring>;

// A policy as a file holds it: its element name and its text; a server list's names joined with ";".
struct FiledPolicy
{
    std::wstring name;
    std::wstring value;
};

// What a file holds, as the tool would write it back: its policies in the file's order, and why it
// cannot be written back as it is (empty when it can): the first element that is not a policy or the
// file's structure where it stands, a policy given twice, or a server name that holds "," or ";" or
// nothing.
struct FiledPolicies
{
    std::vector<FiledPolicy> policies;
    std::wstring foreign;
};
