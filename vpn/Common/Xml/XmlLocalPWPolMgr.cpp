#include "vpn/Common/Xml/XmlLocalPWPolMgr.h"

#include "vpn/Common/Logging/DiagnosticLog.h"
#include "vpn/Common/Platform/StringConvert.h"
#include "vpn/Common/Utility/InstanceSmartPtr.h"
#include "vpn/Common/Utility/StoragePath.h"
#include "vpn/Common/Utility/sysutils.h"
#include "vpn/Common/Xml/LocalPWPolicyArguments.h"
#include "vpn/Common/Xml/LocalPWPolicyDocument.h"
#include "vpn/Common/Xml/PWCSaxWriter.h"
#include "vpn/Common/Xml/XmlParser.h"

namespace
{
using LogNames::XmlLocalPWPolMgr::kFile;
namespace names = LogNames::XmlLocalPWPolMgr;

// The common application data folder that the policy directory lies in: the writer uses it as it
// is and secures only the product's folders below it. Empty when it cannot be told.
std::wstring DataFolderOf(const std::wstring& directory)
{
    CInstanceSmartPtr<CStoragePath> storagePath(CStoragePath::GetInstance());
    if (storagePath.get() == nullptr)
    {
        return std::wstring();
    }
    const std::wstring& relative = storagePath->GetRelativePath();
    if (directory.size() <= relative.size() ||
        directory.compare(directory.size() - relative.size(), relative.size(), relative) != 0)
    {
        return std::wstring();
    }
    return directory.substr(0, directory.size() - relative.size());
}
} // namespace

XmlLocalPWPolMgr::~XmlLocalPWPolMgr() = default;

std::wstring XmlLocalPWPolMgr::getLocalSecurityPolicyDir()
{
    CInstanceSmartPtr<CStoragePath> storagePath(CStoragePath::GetInstance());
    if (storagePath.get() == nullptr)
    {
        PW_LOG_RETURN_CODE(names::kGetLocalSecurityPolicyDir, 'E',
                           LogNames::Invoked::kCInstanceSmartPtrStoragePath, CSTORAGEPATH_ERROR_NO_INSTANCE,
                           nullptr, nullptr);
        return std::wstring();
    }
    return storagePath->GetMainPath();
}

LocalPolicyContext XmlLocalPWPolMgr::resolveContext()
{
    LocalPolicyContext context;
    context.policyDirectory = getLocalSecurityPolicyDir();
    context.dataFolder = DataFolderOf(context.policyDirectory);
    context.trustedLoaded = context.trusted.load();
    return context;
}

bool XmlLocalPWPolMgr::localPolicyExists()
{
    return localPolicyExists(resolveContext());
}

bool XmlLocalPWPolMgr::localPolicyExists(const LocalPolicyContext& context)
{
    bool exists = false;
    return findLocalPolicy(context, exists) == GLOBAL_SUCCESS && exists;
}

ResultCode XmlLocalPWPolMgr::findLocalPolicy(bool& exists)
{
    return findLocalPolicy(resolveContext(), exists);
}

ResultCode XmlLocalPWPolMgr::findLocalPolicy(const LocalPolicyContext& context, bool& exists)
{
    exists = false;
    // Without a policy directory there is no policy, whatever the current directory holds.
    if (context.policyDirectory.empty())
    {
        return ERROR_PATH_NOT_FOUND;
    }
    return testRegularFile(context.policyDirectory + kPolicyFileName, exists);
}

bool XmlLocalPWPolMgr::GenerateLocalPolicy(const wchar_t* const* args, int count)
{
    return GenerateLocalPolicy(resolveContext(), args, count);
}

bool XmlLocalPWPolMgr::GenerateLocalPolicy(const LocalPolicyContext& context, const wchar_t* const* args,
                                           int count, TargetRefusal* refusal)
{
    if (args == nullptr || count < 0)
    {
        PW_LOG_DEBUG(names::kGenerateLocalPolicy, 'E', "Invalid Arguments");
        return false;
    }
    return GenerateLocalPolicy(context, LocalPWPolicyArguments::read(args, count), refusal);
}

bool XmlLocalPWPolMgr::GenerateLocalPolicy(const LocalPolicyContext& context,
                                           const ParsedPolicyArguments& arguments, TargetRefusal* refusal)
{
    LocalPWPolicyArguments::logWarnings(arguments);
    return writeLocalPolicy(context, arguments.top, arguments.update, refusal);
}

bool XmlLocalPWPolMgr::writeLocalPolicy(const PolicyValues& top, const PolicyValues& update,
                                        TargetRefusal* refusal)
{
    return writeLocalPolicy(resolveContext(), top, update, refusal);
}

bool XmlLocalPWPolMgr::writeLocalPolicy(const LocalPolicyContext& context, const PolicyValues& top,
                                        const PolicyValues& update, TargetRefusal* refusal)
{
    constexpr const char* kFunction = names::kWriteLocalPolicy;
    if (PW_LOG_IF_FAILED(LogNames::Invoked::kCTrustedIdentitiesLoad, context.trustedLoaded,
                         "Cannot tell which accounts may own %s",
                         CNarrowText(context.policyDirectory).c_str()) != GLOBAL_SUCCESS)
    {
        return false;
    }
    PWCSaxWriter writer(context.policyDirectory, kPolicyFileName, LocalPWPolicyFormat::kRootElement,
                        context.trusted, context.dataFolder);
    return PW_LOG_IF_FAILED(LogNames::Invoked::kXmlLocalPWPolMgrBuildLocalPolicy,
                            buildLocalPolicy(writer, top, update), nullptr) == GLOBAL_SUCCESS &&
           PW_LOG_IF_FAILED(LogNames::Invoked::kPWCSaxWriterWriteDocument, writer.writeDocument(refusal),
                            nullptr) == GLOBAL_SUCCESS;
}

ResultCode XmlLocalPWPolMgr::buildLocalPolicy(SaxWriterIfc& writer, const PolicyValues& top,
                                              const PolicyValues& update)
{
    return LocalPWPolicyDocument::build(writer, top, update);
}

ResultCode XmlLocalPWPolMgr::loadLocalPolicy(char untrustedLevel)
{
    return loadLocalPolicy(resolveContext(), untrustedLevel);
}

ResultCode XmlLocalPWPolMgr::loadLocalPolicy(const LocalPolicyContext& context, char untrustedLevel,
                                             bool* exists)
{
    constexpr const char* kFunction = names::kLoadLocalPolicy;
    policyInfo.reset();
    // Nothing of a parse that stopped part-way carries over.
    reader.reset();
    bool found = false;
    bool& policyExists = exists != nullptr ? *exists : found;
    policyExists = false;
    // Without a policy directory it cannot be told whether there is a policy.
    if (context.policyDirectory.empty())
    {
        return ERROR_PATH_NOT_FOUND;
    }
    const std::wstring path = context.policyDirectory + kPolicyFileName;
    PW_RETURN_IF_FAILED(LogNames::Invoked::kCTrustedIdentitiesLoad, context.trustedLoaded,
                        "Cannot tell who wrote %s", CNarrowText(path).c_str());
    // The reader parses the bytes read through the handles that were checked, and opens nothing by
    // name: what was checked is what is read.
    LocalPWPolicyReader::HeldPolicy policy;
    PW_RETURN_IF_FAILED_LOGGED(LocalPWPolicyReader::openTrustedPolicy(
        path, context.dataFolder, context.trusted, untrustedLevel, policy));
    policyExists = policy.file.valid();
    if (!policyExists)
    {
        return GLOBAL_SUCCESS;
    }
    std::string document;
    PW_RETURN_IF_FAILED_LOGGED(LocalPWPolicyReader::readPolicy(policy, path, document));
    std::string schema;
    const bool withSchema = LocalPWPolicyReader::readSchema(
        policy, context.policyDirectory + LocalPWPolicyFormat::kSchemaFile, context.trusted, schema);
    return XmlParser(this).invokeParser(document, withSchema ? &schema : nullptr,
                                        LocalPWPolicyFormat::kPolicyNamespace);
}
