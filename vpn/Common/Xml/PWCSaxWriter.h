#pragma once

// Builds an XML document in memory and stores it as UTF-8 (no byte order mark) with CR LF line
// ends. Names and attribute values are copied as passed; element text holding "&", "<" or "]]>"
// is put into CDATA sections, and text that XML 1.0 cannot carry is refused. writeDocument replaces
// the target file in one step through CAtomicFileWriter, so readers see the old file or the new one
// and a failure leaves the old file untouched.

#include <string>

#include "vpn/Common/Utility/Win/AtomicFileWriter.h"
#include "vpn/Common/Xml/SaxWriterIfc.h"

class PWCSaxWriter : public SaxWriterIfc
{
public:
    // directory is joined to fileName without a separator, so it ends in a backslash; an empty
    // directory is refused by writeDocument. trustedBase, when given, is a folder that directory
    // lies below and that is used as it is (the common application data folder); without it every
    // folder below the drive is checked. trusted are the identities that may own the folders and the
    // file (copied).
    PWCSaxWriter(const std::wstring& directory, const std::wstring& fileName, const std::wstring& rootName,
                 const CTrustedIdentities& trusted, const std::wstring& trustedBase = std::wstring());
    ~PWCSaxWriter() override = default;

    [[nodiscard]] ResultCode startDocument(const AttributeList* attributes) override;
    [[nodiscard]] ResultCode startElement(const std::wstring& name, const AttributeList* attributes) override;
    // GLOBAL_ERROR_BAD_PARAMETER, appending nothing, when the text fails isXmlText.
    [[nodiscard]] ResultCode characters(const std::wstring& text) override;
    [[nodiscard]] ResultCode endElement(const std::wstring& name) override;
    [[nodiscard]] ResultCode endDocument() override;
    // 0, or 0xFE000009 after logging the failed step.
    [[nodiscard]] ResultCode writeDocument() override;
    // The same; refusal receives why the file could not be replaced, when that was the failure
    // (CAtomicFileWriter::write).
    [[nodiscard]] ResultCode writeDocument(TargetRefusal* refusal);
    std::wstring getDocument() const override;

    // text in CDATA sections, split so that no section contains "]]>".
    static std::wstring wrapCData(const std::wstring& text);
    // True when every character of text may stand in an XML 1.0 document: no C0 control other
    // than tab, line feed and carriage return, no U+FFFE or U+FFFF, no unpaired surrogate.
    static bool isXmlText(const std::wstring& text);

private:
    // True when text must go into CDATA sections to stay character data after document.
    bool needsCData(const std::wstring& text) const;

    std::wstring document;
    std::wstring rootName;
    std::wstring directory;
    std::wstring fileName;
    std::wstring trustedBase;
    CTrustedIdentities trusted;
};
