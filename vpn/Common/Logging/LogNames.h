#pragma once

// The names that event-log entries carry: the source file, the function that logged and the call that
// failed. They are part of the tool's output, so they are kept here, grouped by the file name the
// entries show; a note says where a name stays although its code moved. A name that is not here is
// free to change. Each logging source file takes its group's kFile and its names from here.

namespace LogNames
{
// "Privilege": the privilege check.
namespace Privilege
{
constexpr char kFile[] = "Privilege";
constexpr char kGetPrivilegeLevel[] = "GetPrivilegeLevel";
} // namespace Privilege

// "Services": service control.
namespace Services
{
constexpr char kFile[] = "Services";
constexpr char kCSCMHandle[] = "CServices::CSCMHandle::CSCMHandle";
constexpr char kCServiceHandle[] = "CServices::CServiceHandle::CServiceHandle";
constexpr char kEnableService[] = "CServices::EnableService";
constexpr char kGetServiceState[] = "CServices::getServiceState";
constexpr char kServiceStart[] = "CServices::ServiceStart";
constexpr char kServiceStop[] = "CServices::ServiceStop";
constexpr char kWaitForServiceState[] = "CServices::waitForServiceState";
} // namespace Services

// "StoragePath": the storage path singleton.
namespace StoragePath
{
constexpr char kFile[] = "StoragePath";
constexpr char kCreateSingletonInstance[] = "CStoragePath::CreateSingletonInstance";
constexpr char kGetMainPath[] = "CStoragePath::GetMainPath";
} // namespace StoragePath

// "ThreadLocalStorage": the thread-local storage slot.
namespace ThreadLocalStorage
{
constexpr char kFile[] = "ThreadLocalStorage";
constexpr char kConstruct[] = "CThreadLocalStorage<unsigned long>::CThreadLocalStorage";
constexpr char kDestroy[] = "CThreadLocalStorage<unsigned long>::~CThreadLocalStorage";
} // namespace ThreadLocalStorage

// "sysutils": the file test.
namespace sysutils
{
constexpr char kFile[] = "sysutils";
constexpr char kFileExists[] = "fileExists";
} // namespace sysutils

// "HModuleMgr": the module holder.
namespace HModuleMgr
{
constexpr char kFile[] = "HModuleMgr";
constexpr char kSTFreeLibrary[] = "CHModuleMgr::STFreeLibrary";
constexpr char kSTGetProcAddress[] = "CHModuleMgr::STGetProcAddress";
constexpr char kSTLoadLibrary[] = "CHModuleMgr::STLoadLibrary";
} // namespace HModuleMgr

// "Various": shell folders and the native program files folder.
namespace Various
{
constexpr char kFile[] = "Various";
constexpr char kGetCSIDLPath[] = "GetCSIDLPath";
constexpr char kNativeProgramFilesFolder[] = "NativeProgramFilesFolder";
} // namespace Various

// "FileSecurity": the checks of the folders and files the policy lives in.
namespace FileSecurity
{
constexpr char kFile[] = "FileSecurity";
constexpr char kBuildDescriptor[] = "CFileSecurity::BuildDescriptor";
constexpr char kOpenTrustedFolder[] = "CFileSecurity::OpenTrustedFolder";
} // namespace FileSecurity

// "FileHolders": who holds a file open.
namespace FileHolders
{
constexpr char kFile[] = "FileHolders";
constexpr char kDescribe[] = "CFileHolders::Describe";
} // namespace FileHolders

// "AtomicFileWriter": the replace of a file in one step; it logs on behalf of its caller
// (PWCSaxWriter::kWriteDocument).
namespace AtomicFileWriter
{
constexpr char kFile[] = "AtomicFileWriter";
} // namespace AtomicFileWriter

// "MSSaxErrorHandlerImpl": the SAX reader's error handler.
namespace MSSaxErrorHandlerImpl
{
constexpr char kFile[] = "MSSaxErrorHandlerImpl";
constexpr char kError[] = "MSSaxErrorHandlerImpl::error";
constexpr char kFatalError[] = "MSSaxErrorHandlerImpl::fatalError";
constexpr char kIgnorableWarning[] = "MSSaxErrorHandlerImpl::ignorableWarning";
} // namespace MSSaxErrorHandlerImpl

// "XmlParser": the SAX reader driver.
namespace XmlParser
{
constexpr char kFile[] = "XmlParser";
constexpr char kInvokeParser[] = "XmlParser::invokeParser";
} // namespace XmlParser

// "PWCSaxWriter": the XML writer.
namespace PWCSaxWriter
{
constexpr char kFile[] = "PWCSaxWriter";
constexpr char kCharacters[] = "PWCSaxWriter::characters";
constexpr char kWriteDocument[] =
    "PWCSaxWriter::writeDocument"; // also the name CAtomicFileWriter logs under for the writer
} // namespace PWCSaxWriter

// "XmlLocalPWPolMgr": the local policy manager and its rooms.
namespace XmlLocalPWPolMgr
{
constexpr char kFile[] = "XmlLocalPWPolMgr";
constexpr char kAddAttribute[] =
    "XmlLocalPWPolMgr::addAttribute"; // logged by LocalPWPolicyReader, under the manager's name as always
constexpr char kGenerateLocalPolicy[] =
    "XmlLocalPWPolMgr::GenerateLocalPolicy"; // logged by LocalPWPolicyArguments, under the manager's name as
                                             // always
constexpr char kGetLocalSecurityPolicyDir[] = "XmlLocalPWPolMgr::getLocalSecurityPolicyDir";
constexpr char kLoadLocalPolicy[] = "XmlLocalPWPolMgr::loadLocalPolicy"; // also logged by LocalPWPolicyReader
constexpr char kSetElementValue[] =
    "XmlLocalPWPolMgr::setElementValue"; // logged by LocalPWPolicyReader, under the manager's name as always
constexpr char kWriteLocalPolicy[] = "XmlLocalPWPolMgr::writeLocalPolicy";
} // namespace XmlLocalPWPolMgr

// "Hardenor": the run, /status and the agent restart.
namespace Hardenor
{
constexpr char kFile[] = "Hardenor";
constexpr char kRestartAgent[] = "restartAgent";
constexpr char kWmain[] = "wmain"; // the run and /status log under the entry point they run for
} // namespace Hardenor

// Calls that failed: Windows functions (with "::" and without their A or W ending), library calls,
// COM methods (Interface::method) and the system's own operations.
namespace Invoked
{
constexpr char kAllocateAndInitializeSid[] = "::AllocateAndInitializeSid";
constexpr char kCFileSecurityInspectFile[] = "CFileSecurity::InspectFile";
constexpr char kCInstanceSmartPtrStoragePath[] =
    "CInstanceSmartPtr<StoragePath>"; // kept for the log's readers as it has always read (the class is
                                      // CStoragePath)
constexpr char kCServiceGetServiceState[] =
    "CService::getServiceState"; // kept for the log's readers as it has always read (the class is CServices)
constexpr const char* kCServicesEnableService = Services::kEnableService;
constexpr const char* kCServicesGetServiceState = Services::kGetServiceState;
constexpr const char* kCServicesServiceStart = Services::kServiceStart;
constexpr const char* kCServicesServiceStop = Services::kServiceStop;
constexpr const char* kCServicesWaitForServiceState = Services::kWaitForServiceState;
constexpr char kCStoragePath[] = "CStoragePath";
constexpr const char* kCStoragePathCreateSingletonInstance = StoragePath::kCreateSingletonInstance;
constexpr char kCTrustedIdentitiesLoad[] = "CTrustedIdentities::load";
constexpr char kChangeServiceConfig[] = "::ChangeServiceConfig";
constexpr char kCloseHandle[] = "::CloseHandle";
constexpr char kCoInitializeEx[] = "CoInitializeEx";
constexpr char kControlService[] = "::ControlService";
constexpr char kConvertStringSecurityDescriptorToSecurityDescriptor[] =
    "::ConvertStringSecurityDescriptorToSecurityDescriptor";
constexpr char kCreateFile[] = "::CreateFile";
constexpr char kCreateStreamOnHGlobal[] = "CreateStreamOnHGlobal";
constexpr char kDeleteFile[] = "::DeleteFile";
constexpr char kEqualSid[] = "::EqualSid";
constexpr char kFlushFileBuffers[] = "::FlushFileBuffers";
constexpr char kFreeLibrary[] = "FreeLibrary";
constexpr char kGetAce[] = "::GetAce";
constexpr char kGetFileInformationByHandleEx[] = "::GetFileInformationByHandleEx";
constexpr char kGetFinalPathNameByHandle[] = "::GetFinalPathNameByHandle";
constexpr const char* kGetPrivilegeLevel = Privilege::kGetPrivilegeLevel;
constexpr char kGetProcAddress[] = "GetProcAddress";
constexpr char kGetSecurityInfo[] = "::GetSecurityInfo";
constexpr char kGetTokenInformation[] = "::GetTokenInformation";
constexpr char kISAXXMLReaderCoCreateInstance[] = "ISAXXMLReader::CoCreateInstance";
constexpr char kISAXXMLReaderParse[] = "ISAXXMLReader::parse";
constexpr char kISAXXMLReaderPutContentHandler[] = "ISAXXMLReader::putContentHandler";
constexpr char kISAXXMLReaderPutErrorHandler[] = "ISAXXMLReader::putErrorHandler";
constexpr char kISAXXMLReaderPutFeature[] = "ISAXXMLReader::putFeature";
constexpr char kISAXXMLReaderPutProperty[] = "ISAXXMLReader::putProperty";
constexpr char kIStreamSeek[] = "IStream::Seek";
constexpr char kIStreamWrite[] = "IStream::Write";
constexpr char kIXMLDOMDocument2CoCreateInstance[] = "IXMLDOMDocument2::CoCreateInstance";
constexpr char kIXMLDOMDocument2SetProperty[] = "IXMLDOMDocument2::setProperty";
constexpr char kIXMLDOMDocumentLoad[] = "IXMLDOMDocument::load";
constexpr char kIXMLDOMDocumentPutAsync[] = "IXMLDOMDocument::put_async";
constexpr char kIXMLDOMDocumentPutResolveExternals[] = "IXMLDOMDocument::put_resolveExternals";
constexpr char kIXMLDOMDocumentPutValidateOnParse[] = "IXMLDOMDocument::put_validateOnParse";
constexpr char kIXMLDOMNodeGetText[] = "IXMLDOMNode::get_text";
constexpr char kIXMLDOMNodeSelectSingleNode[] = "IXMLDOMNode::selectSingleNode";
constexpr char kIXMLDOMSchemaCollection2CoCreateInstance[] = "IXMLDOMSchemaCollection2::CoCreateInstance";
constexpr char kIXMLDOMSchemaCollectionAdd[] = "IXMLDOMSchemaCollection::add";
constexpr char kIsWow64Process[] = "::IsWow64Process";
constexpr char kLoadLibrary[] = "LoadLibrary";
constexpr char kNotifyServiceStatusChange[] = "::NotifyServiceStatusChange";
constexpr char kOpenProcessToken[] = "::OpenProcessToken";
constexpr char kOpenSCManager[] = "::OpenSCManager";
constexpr char kOpenService[] = "::OpenService";
constexpr char kOpenThreadToken[] = "::OpenThreadToken";
constexpr const char* kPWCSaxWriterCharacters = PWCSaxWriter::kCharacters;
constexpr char kPWCSaxWriterCreateDirectoryPath[] =
    "PWCSaxWriter::createDirectoryPath"; // kept for the log's readers: the folder creation now lives in
                                         // CAtomicFileWriter
constexpr const char* kPWCSaxWriterWriteDocument = PWCSaxWriter::kWriteDocument;
constexpr char kQueryServiceConfig[] = "::QueryServiceConfig";
constexpr char kQueryServiceStatusEx[] = "::QueryServiceStatusEx";
constexpr char kReadFile[] = "::ReadFile";
constexpr char kRegOpenKeyEx[] = "::RegOpenKeyEx";
constexpr char kRegQueryValueEx[] = "::RegQueryValueEx";
constexpr char kRmGetList[] = "::RmGetList";
constexpr char kRmRegisterResources[] = "::RmRegisterResources";
constexpr char kRmStartSession[] = "::RmStartSession";
constexpr char kRtlGenRandom[] = "RtlGenRandom";
constexpr char kSHGetFolderPath[] = "SHGetFolderPath";
constexpr char kSetDefaultDllDirectories[] = "::SetDefaultDllDirectories";
constexpr char kSetFileInformationByHandle[] = "::SetFileInformationByHandle";
constexpr char kStartService[] = "::StartService";
constexpr char kSysAllocString[] = "SysAllocString";
constexpr char kTlsAlloc[] = "::TlsAlloc";
constexpr char kTlsFree[] = "::TlsFree";
constexpr char kTstat[] = "_tstat"; // the name the log has always shown for the wide stat
constexpr char kWriteFile[] = "::WriteFile";
constexpr char kXmlLocalPWPolMgrBuildLocalPolicy[] = "XmlLocalPWPolMgr::buildLocalPolicy";
constexpr const char* kXmlLocalPWPolMgrLoadLocalPolicy = XmlLocalPWPolMgr::kLoadLocalPolicy;
} // namespace Invoked
} // namespace LogNames
