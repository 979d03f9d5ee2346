#pragma once

// The local policy manager. It knows the policies that the tool can set, each under a short
// abbreviation; turns abbreviation=value arguments into the local policy file (first value of a
// policy wins, unusable arguments are logged and skipped); and, as the XML reader's callback
// interface, reads that file back into a LocalPWPolicyInfo record. It is the front of three rooms:
// the argument rules (LocalPWPolicyArguments), the document (LocalPWPolicyDocument) and the
// read-back (LocalPWPolicyReader).

#include <string>

#include "vpn/Common/Logging/ResultCodes.h"
#include "vpn/Common/Utility/Win/AtomicFileWriter.h"
#include "vpn/Common/Xml/LocalPWPolicyArguments.h"
#include "vpn/Common/Xml/LocalPWPolicyFormat.h"
#include "vpn/Common/Xml/LocalPWPolicyInfo.h"
#include "vpn/Common/Xml/LocalPWPolicyReader.h"
#include "vpn/Common/Xml/LocalPolicyContext.h"
#include "vpn/Common/Xml/SaxWriterIfc.h"
#include "vpn/Common/Xml/XmlMgr.h"

class XmlLocalPWPolMgr : public XmlMgr
{
public:
    static constexpr const wchar_t* kPolicyNamespace = LocalPWPolicyFormat::kPolicyNamespace;
    static constexpr const wchar_t* kPolicyFileName = LocalPWPolicyFormat::kPolicyFileName;
    static constexpr const wchar_t* kCurrentVersion = LocalPWPolicyFormat::kCurrentVersion;

    XmlLocalPWPolMgr() = default;
    ~XmlLocalPWPolMgr() override;
    XmlLocalPWPolMgr(const XmlLocalPWPolMgr&) = delete;
    XmlLocalPWPolMgr& operator=(const XmlLocalPWPolMgr&) = delete;

    // The directory of the policy file, ending in a backslash, or empty when there is no storage
    // path singleton or the data folder is unknown.
    static std::wstring getLocalSecurityPolicyDir();
    // The policy's directory and data folder, and the trusted identities: what a run resolves once.
    static LocalPolicyContext resolveContext();

    // The operations below without a context resolve one for themselves and delegate.

    // True when the policy file exists as a regular file.
    static bool localPolicyExists();
    static bool localPolicyExists(const LocalPolicyContext& context);
    // The same for a caller that must tell "no file" from "cannot tell": 0 with exists set, or the
    // code of the failure (logged), ERROR_PATH_NOT_FOUND when the policy directory is unknown.
    [[nodiscard]] static ResultCode findLocalPolicy(bool& exists);
    [[nodiscard]] static ResultCode findLocalPolicy(const LocalPolicyContext& context, bool& exists);
    // Writes the policy file from the top-level and the update-group values; true when written.
    // When the file could not be replaced, refusal (if given) receives why.
    static bool writeLocalPolicy(const PolicyValues& top, const PolicyValues& update,
                                 TargetRefusal* refusal = nullptr);
    static bool writeLocalPolicy(const LocalPolicyContext& context, const PolicyValues& top,
                                 const PolicyValues& update, TargetRefusal* refusal = nullptr);
    // Builds the policy file's document from the two value sets in writer (which receives
    // startDocument to endDocument). 0, or the first code that a writer call returned.
    [[nodiscard]] static ResultCode buildLocalPolicy(SaxWriterIfc& writer, const PolicyValues& top,
                                                     const PolicyValues& update);

    // Turns count arguments of the form abbreviation=value (entries may be null) into the policy
    // file. False when the array is unusable or the file was not written.
    bool GenerateLocalPolicy(const wchar_t* const* args, int count);
    // refusal, when given, receives why the policy file could not be replaced, when that was the failure.
    bool GenerateLocalPolicy(const LocalPolicyContext& context, const wchar_t* const* args, int count,
                             TargetRefusal* refusal = nullptr);
    // Writes the policy file from arguments that were read once by the caller, after logging the
    // warning of each skipped one.
    bool GenerateLocalPolicy(const LocalPolicyContext& context, const ParsedPolicyArguments& arguments,
                             TargetRefusal* refusal = nullptr);

    // Resets the record and reads the policy file into it; 0 when there is no file (exists, when
    // given, tells), ERROR_PATH_NOT_FOUND when the policy directory is unknown. Only a plain file with
    // one name that a trusted account owns and that no untrusted account may change, in folders that
    // pass the writer's folder check, is read: any other is not parsed, and gives
    // kUntrustedPolicyFile after an entry at untrustedLevel. The schema beside the file is used only
    // when it passes the same checks.
    [[nodiscard]] ResultCode loadLocalPolicy(char untrustedLevel = 'E');
    [[nodiscard]] ResultCode loadLocalPolicy(const LocalPolicyContext& context, char untrustedLevel = 'E',
                                             bool* exists = nullptr);
    static constexpr ResultCode kUntrustedPolicyFile = LocalPWPolicyReader::kUntrustedPolicyFile;
    LocalPWPolicyInfo getLocalPolicyInfo() const { return LocalPWPolicyInfo(policyInfo); }
    // The policies of the file that loadLocalPolicy read, as the file holds them, and what keeps it
    // from being written back as it is.
    const FiledPolicies& getFiledPolicies() const { return reader.filed(); }

    // The reader's callbacks go to the read-back.
    void startElement(const std::wstring& name) override { reader.startElement(name); }
    void endElement(const std::wstring& name) override { reader.endElement(name); }
    void setElementValue(const std::wstring& text) override { reader.characters(text); }
    void addAttribute(const std::wstring& name, const std::wstring& value) override
    {
        reader.attribute(name, value);
    }

private:
    LocalPWPolicyInfo policyInfo;
    // Reads into policyInfo, so it follows it.
    LocalPWPolicyReader reader{policyInfo};
};
