#pragma once

// The read-back of the policy file: what the manager's reader callbacks do. Keeps which element is
// open and whether it lies in the update group or its server list, and stores each recognised
// element's whole text, taken at its end tag, into a record.

#include <windows.h>

#include <string>
#include <vector>

#include "vpn/Common/Logging/ResultCodes.h"
#include "vpn/Common/Platform/UniqueHandle.h"
#include "vpn/Common/Utility/Win/TrustedIdentities.h"
#include "vpn/Common/Xml/LocalPWPolicyFormat.h"
#include "vpn/Common/Xml/LocalPWPolicyInfo.h"

class LocalPWPolicyReader
{
public:
    // The record is not owned and must outlive the reader.
    explicit LocalPWPolicyReader(LocalPWPolicyInfo& record) : record(record) {}

    // Forgets every open element, as before a new parse.
    void reset();
    void startElement(const std::wstring& name);
    void endElement(const std::wstring& name);
    // One piece of the current element's character data.
    void characters(const std::wstring& text);
    // An attribute of the element that started last.
    void attribute(const std::wstring& name, const std::wstring& value);

    // What the file read holds, as the tool would write it back.
    const FiledPolicies& filed() const { return m_filed; }

    // What the read-back holds until the parse is done, so that the file checked is the file read:
    // the folders on the policy file's way, and the file itself, shared for reading only.
    struct HeldPolicy
    {
        std::vector<CUniqueFileHandle> folders;
        CUniqueFileHandle file; // invalid when there is no policy file
        ULONGLONG size = 0;
    };
    // Opens the folders of path below base with the writer's folder check, then the policy file at
    // path, and keeps them in held. 0 with the file held when it is a plain file with one name that a
    // trusted account owns and that no untrusted account may change, in folders that pass the check,
    // and what was opened is that name in the last folder held (its final path says so, past every
    // link); 0 without it when there is no file; kUntrustedPolicyFile, logged at level with the
    // cause, when the file or a folder on its way is not trusted; or the code of a file or folder that
    // could not be looked at, logged at level 'E': what cannot be judged is not called untrusted. A
    // file that another run is replacing is waited for.
    [[nodiscard]] static ResultCode openTrustedPolicy(const std::wstring& path, const std::wstring& base,
                                                      const CTrustedIdentities& trusted, char level,
                                                      HeldPolicy& held);
    // Reads the held policy file whole into bytes, through the handle that was checked. 0, or the
    // error of the read (ERROR_FILE_TOO_LARGE for a file larger than any policy), logged.
    [[nodiscard]] static ResultCode readPolicy(const HeldPolicy& held, const std::wstring& path,
                                               std::string& bytes);
    // True with the schema at path, in the folder of the held policy, read into bytes when it may be
    // handed to the reader, which runs elevated: a plain file with one name that a trusted account owns
    // and that no untrusted account may change, read through the handle that was checked. A schema that
    // is there and may not be used or read is logged as a warning; a missing one is not.
    static bool readSchema(const HeldPolicy& held, const std::wstring& path,
                           const CTrustedIdentities& trusted, std::string& bytes);

    // The largest policy file or schema that is read: far more than any policy takes.
    static constexpr ULONGLONG kMaxFileBytes = ULONGLONG{16} << 20;

    // What openTrustedPolicy returns for a policy file that it does not let the reader parse.
    static constexpr ResultCode kUntrustedPolicyFile = static_cast<ResultCode>(TRUST_E_SUBJECT_NOT_TRUSTED);

private:
    // An element between its start and end tags: the name that its text is read as (empty when its
    // text counts for nothing) and its own text received so far, before and after its children.
    struct OpenElement
    {
        std::wstring name;
        std::wstring text;
        std::wstring tag; // the element's own name
    };

    // Notes in m_filed where an element that starts below the open ones stands in the format.
    void fileElement(const std::wstring& tag);
    // Notes the whole text of a policy element or server name that has ended.
    void fileText(const OpenElement& element);
    // Keeps the first reason why the file cannot be written back as it is.
    void noteForeign(std::wstring cause);

    // Stores the whole text of an element that has ended into the record.
    void applyElementValue(const OpenElement& element);

    LocalPWPolicyInfo& record;
    // The elements from the root to the current one.
    std::vector<OpenElement> openElements;
    bool inAuthorizedServerList = false;
    bool inUpdatePolicy = false;
    FiledPolicies m_filed;
};
