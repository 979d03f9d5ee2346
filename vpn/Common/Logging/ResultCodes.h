#pragma once

// Result codes: 0 is success. A code of one of the system's own modules is
// 0xFE000000 + module * 0x10000 + index; any other non-zero value is a Windows error code,
// an HRESULT or an errno value passed on unchanged.

#include <cstdint>

using ResultCode = std::uint32_t;

constexpr ResultCode MakeResultCode(std::uint32_t module, std::uint32_t index)
{
    return 0xFE000000u | (module << 16) | index;
}

namespace ResultModule
{
constexpr std::uint32_t Global = 0;
constexpr std::uint32_t Services = 23;
constexpr std::uint32_t CStoragePath = 136;
constexpr std::uint32_t ThreadLocalStorage = 154;
constexpr std::uint32_t XmlLocalPWPolMgr = 162;
} // namespace ResultModule

constexpr ResultCode GLOBAL_SUCCESS = 0;
constexpr ResultCode GLOBAL_ERROR_NOT_IMPLEMENTED = MakeResultCode(ResultModule::Global, 1);
constexpr ResultCode GLOBAL_ERROR_BAD_PARAMETER = MakeResultCode(ResultModule::Global, 2);
constexpr ResultCode GLOBAL_ERROR_BAD_HANDLE = MakeResultCode(ResultModule::Global, 3);
constexpr ResultCode GLOBAL_ERROR_MEMALLOC_FAILED = MakeResultCode(ResultModule::Global, 4);
constexpr ResultCode GLOBAL_ERROR_NULL_POINTER = MakeResultCode(ResultModule::Global, 5);
constexpr ResultCode GLOBAL_ERROR_INSUFFICIENT_BUFFER = MakeResultCode(ResultModule::Global, 6);
constexpr ResultCode GLOBAL_ERROR_NOT_INITIALIZED = MakeResultCode(ResultModule::Global, 7);
constexpr ResultCode GLOBAL_ERROR_ALREADY_INITIALIZED = MakeResultCode(ResultModule::Global, 8);
constexpr ResultCode GLOBAL_ERROR_UNEXPECTED = MakeResultCode(ResultModule::Global, 9);
constexpr ResultCode GLOBAL_ERROR_NO_INSTANCE = MakeResultCode(ResultModule::Global, 10);

constexpr ResultCode SERVICES_SUCCESS = 0;
constexpr ResultCode SERVICES_ERROR_BAD_PARAMETER = MakeResultCode(ResultModule::Services, 2);
constexpr ResultCode SERVICES_ERROR_OPEN_SC_MANAGER_FAILED = MakeResultCode(ResultModule::Services, 10);
constexpr ResultCode SERVICES_ERROR_OPEN_SERVICE_FAILED = MakeResultCode(ResultModule::Services, 11);
constexpr ResultCode SERVICES_ERROR_QUERY_SERVICE_FAILED = MakeResultCode(ResultModule::Services, 12);
constexpr ResultCode SERVICES_ERROR_SERVICE_DOES_NOT_EXIST = MakeResultCode(ResultModule::Services, 13);
constexpr ResultCode SERVICES_ERROR_START_SERVICE_FAILED = MakeResultCode(ResultModule::Services, 14);
constexpr ResultCode SERVICES_ERROR_QUERY_SERVICE_CONFIG_FAILED = MakeResultCode(ResultModule::Services, 15);
constexpr ResultCode SERVICES_ERROR_CHANGE_SERVICE_CONFIG_FAILED = MakeResultCode(ResultModule::Services, 16);
constexpr ResultCode SERVICES_ERROR_DESIRED_STATE_TIMEOUT = MakeResultCode(ResultModule::Services, 17);

constexpr ResultCode CSTORAGEPATH_ERROR_NO_INSTANCE = MakeResultCode(ResultModule::CStoragePath, 10);

constexpr ResultCode THREADLOCALSTORAGE_ERROR_GET_VALUE_FAILED =
    MakeResultCode(ResultModule::ThreadLocalStorage, 10);
constexpr ResultCode THREADLOCALSTORAGE_ERROR_NO_DATA_SET =
    MakeResultCode(ResultModule::ThreadLocalStorage, 11);
constexpr ResultCode THREADLOCALSTORAGE_ERROR_SET_VALUE_FAILED =
    MakeResultCode(ResultModule::ThreadLocalStorage, 12);

constexpr ResultCode XMLLOCALPWPOLMGR_ERROR_NO_INSTANCE = MakeResultCode(ResultModule::XmlLocalPWPolMgr, 10);
