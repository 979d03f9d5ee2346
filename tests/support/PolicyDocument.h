#pragma once

#include <string>
#include <vector>

#include "vpn/Common/ProductVersion.h"

// Local policy files as the tests expect them, with the version of this build (set once, in the top
// CMakeLists.txt). The namespace, the root and the schema's name are spelt out here rather than taken
// from the product, so that a change of them shows.

// The version that this build writes into a policy file.
constexpr char kPolicyVersion[] = PW_VERSION_TEXT;
constexpr wchar_t kPolicyVersionW[] = PW_VERSION_TEXT_W;

// The root's start tag as the tool writes it, with the given version.
std::string PolicyRootLine(const std::string& version = kPolicyVersion);

// The bytes of a policy file as the tool writes it: the declaration, the root's start tag, the lines
// of body and the root's end tag, every line ended by CR LF.
std::string PolicyFile(const std::vector<std::string>& body, const std::string& version = kPolicyVersion);
