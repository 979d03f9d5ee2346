#include "vpn/Common/Utility/Services.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "support/ApiOverride.h"
#include "support/LoggedEntry.h"
#include "support/OverrideSet.h"
#include "support/QueuedNotification.h"
#include "support/RecordingEventLog.h"
#include "support/TempDirectory.h"
#include "support/WaitUntil.h"

namespace
{

const SC_HANDLE kManager = reinterpret_cast<SC_HANDLE>(0x1110);
const SC_HANDLE kService = reinterpret_cast<SC_HANDLE>(0x2220);

// A service control manager with one service, scripted through the platform seam for the fake's
// lifetime, and a fake clock: Sleep only adds up the time.
struct FakeScm
{
    DWORD openManagerError = 0;
    DWORD openServiceError = 0;
    int managerOpens = 0;
    std::vector<SC_HANDLE> closed;

    // The state each status query reports; the last one repeats. A query error fails the query.
    std::deque<DWORD> states{SERVICE_STOPPED};
    DWORD queryError = 0;
    int queries = 0;

    // The outcome of each start request in turn (0: accepted); accepted once the list is used up.
    std::deque<DWORD> startErrors;
    int startRequests = 0;
    DWORD controlError = 0;
    int stopControls = 0;

    DWORD startType = SERVICE_DEMAND_START;
    DWORD sizeQueryError = ERROR_INSUFFICIENT_BUFFER;
    DWORD configQueryError = 0;
    DWORD changeError = 0;
    std::vector<DWORD> changeArguments; // service type, start type, error control of the last change
    int changes = 0;

    std::vector<DWORD> sleeps;

    // Last, so that the fakes end before the state they use.
    OverrideSet fakes;

    FakeScm()
    {
        fakes.add(&pw::PlatformApi::OpenSCManagerW,
                  [this](LPCWSTR machine, LPCWSTR database, DWORD) -> SC_HANDLE
                  {
                      ++managerOpens;
                      EXPECT_EQ(nullptr, machine);
                      EXPECT_TRUE(database == nullptr || std::wstring(database) == SERVICES_ACTIVE_DATABASEW);
                      return Fail(openManagerError) ? nullptr : kManager;
                  });
        fakes.add(&pw::PlatformApi::OpenServiceW,
                  [this](SC_HANDLE manager, LPCWSTR, DWORD) -> SC_HANDLE
                  {
                      EXPECT_EQ(kManager, manager);
                      return Fail(openServiceError) ? nullptr : kService;
                  });
        fakes.add(&pw::PlatformApi::CloseServiceHandle,
                  [this](SC_HANDLE h)
                  {
                      closed.push_back(h);
                      return TRUE;
                  });
        fakes.add(&pw::PlatformApi::QueryServiceStatusEx,
                  [this](SC_HANDLE h, SC_STATUS_TYPE type, LPBYTE buffer, DWORD size, LPDWORD)
                  {
                      EXPECT_EQ(kService, h);
                      EXPECT_EQ(SC_STATUS_PROCESS_INFO, type);
                      EXPECT_EQ(sizeof(SERVICE_STATUS_PROCESS), size);
                      ++queries;
                      if (Fail(queryError))
                      {
                          return FALSE;
                      }
                      auto* status = reinterpret_cast<SERVICE_STATUS_PROCESS*>(buffer);
                      status->dwCurrentState = states.front();
                      if (states.size() > 1)
                      {
                          states.pop_front();
                      }
                      return TRUE;
                  });
        fakes.add(&pw::PlatformApi::StartServiceW,
                  [this](SC_HANDLE h, DWORD argc, LPCWSTR*)
                  {
                      EXPECT_EQ(kService, h);
                      EXPECT_EQ(0u, argc);
                      ++startRequests;
                      DWORD error = 0;
                      if (!startErrors.empty())
                      {
                          error = startErrors.front();
                          startErrors.pop_front();
                      }
                      return Fail(error) ? FALSE : TRUE;
                  });
        fakes.add(&pw::PlatformApi::ControlService,
                  [this](SC_HANDLE h, DWORD control, LPSERVICE_STATUS)
                  {
                      EXPECT_EQ(kService, h);
                      EXPECT_EQ(static_cast<DWORD>(SERVICE_CONTROL_STOP), control);
                      ++stopControls;
                      return Fail(controlError) ? FALSE : TRUE;
                  });
        fakes.add(&pw::PlatformApi::QueryServiceConfigW,
                  [this](SC_HANDLE, LPQUERY_SERVICE_CONFIGW config, DWORD size, LPDWORD needed)
                  {
                      const DWORD full = sizeof(QUERY_SERVICE_CONFIGW) + 64;
                      *needed = full;
                      if (config == nullptr)
                      {
                          ::SetLastError(sizeQueryError);
                          return FALSE;
                      }
                      EXPECT_GE(size, full);
                      if (Fail(configQueryError))
                      {
                          return FALSE;
                      }
                      config->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
                      config->dwStartType = startType;
                      config->dwErrorControl = SERVICE_ERROR_NORMAL;
                      return TRUE;
                  });
        fakes.add(&pw::PlatformApi::ChangeServiceConfigW,
                  [this](SC_HANDLE, DWORD serviceType, DWORD start, DWORD errorControl, LPCWSTR path,
                         LPCWSTR group, LPDWORD tag, LPCWSTR dependencies, LPCWSTR account, LPCWSTR password,
                         LPCWSTR displayName)
                  {
                      ++changes;
                      changeArguments = {serviceType, start, errorControl};
                      EXPECT_TRUE(path == nullptr && group == nullptr && tag == nullptr &&
                                  dependencies == nullptr && account == nullptr && password == nullptr &&
                                  displayName == nullptr);
                      if (Fail(changeError))
                      {
                          return FALSE;
                      }
                      startType = start;
                      return TRUE;
                  });
        fakes.add(&pw::PlatformApi::Sleep, [this](DWORD ms) { sleeps.push_back(ms); });
        // No notification (as before Windows Vista): every wait polls, on a clock that stands still.
        fakes.add(&pw::PlatformApi::NotifyServiceStatusChangeW,
                  [](SC_HANDLE, DWORD, PSERVICE_NOTIFYW) -> DWORD { return ERROR_PROC_NOT_FOUND; });
        fakes.add(&pw::PlatformApi::GetTickCount64, [] { return ULONGLONG{0}; });
    }

    DWORD sleptMs() const
    {
        DWORD total = 0;
        for (DWORD ms : sleeps)
        {
            total += ms;
        }
        return total;
    }

    static bool Fail(DWORD error)
    {
        if (error == 0)
        {
            return false;
        }
        ::SetLastError(error);
        return true;
    }
};

struct NamedOperation
{
    const char* function;
    const char* verb;
    ResultCode (*call)(const std::wstring&);
};
const NamedOperation kOperations[] = {
    {"CServices::ServiceStart", "Starting", CServices::ServiceStart},
    {"CServices::ServiceStop", "Stopping", CServices::ServiceStop},
    {"CServices::EnableService", "Enabling", CServices::EnableService},
};

std::string OperationName(const ::testing::TestParamInfo<NamedOperation>& info)
{
    const std::string function = info.param.function;
    return function.substr(function.find("::") + 2);
}

// A failed-call entry of this unit.
LoggedEntry Failed(char level, const std::string& function, const std::string& invoked, unsigned long code,
                   const std::string& text = "")
{
    return Failure(level, function, "Services", invoked, code, text);
}

// The warning of a wait that polls.
LoggedEntry Polling()
{
    return Failed('W', "CServices::waitForServiceState", "::NotifyServiceStatusChange", ERROR_PROC_NOT_FOUND,
                  "polling instead");
}

LoggedEntry Opening(const NamedOperation& op, const std::string& name)
{
    return Message('I', op.function, "Services", std::string(op.verb) + " service \"" + name + "\"");
}

LoggedEntry Opening(const char* function, const std::string& name)
{
    for (const NamedOperation& op : kOperations)
    {
        if (std::string(op.function) == function)
        {
            return Opening(op, name);
        }
    }
    ADD_FAILURE() << function;
    return LoggedEntry();
}

// Every case of the fakes records the entries it makes.
class ServicesOpening : public ::testing::TestWithParam<NamedOperation>
{
protected:
    RecordingEventLog log;
};

INSTANTIATE_TEST_SUITE_P(Operations, ServicesOpening, ::testing::ValuesIn(kOperations), OperationName);

class ServicesLogged : public ::testing::Test
{
protected:
    RecordingEventLog log;
    FakeScm scm;
};
using ServicesStart = ServicesLogged;
using ServicesStop = ServicesLogged;
using ServicesWaitFailure = ServicesLogged;

} // namespace

TEST_P(ServicesOpening, AnEmptyNameIsRefusedBeforeTheManagerIsOpened)
{
    FakeScm scm;
    EXPECT_EQ(SERVICES_ERROR_BAD_PARAMETER, GetParam().call(L""));
    EXPECT_EQ(0, scm.managerOpens);
    EXPECT_EQ(std::vector<LoggedEntry>{Opening(GetParam(), "")}, LoggedEntries(log));
}

TEST_P(ServicesOpening, AManagerThatCannotBeOpenedIsLogged)
{
    FakeScm scm;
    scm.openManagerError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(SERVICES_ERROR_OPEN_SC_MANAGER_FAILED, GetParam().call(L"agent"));
    const std::vector<LoggedEntry> expected = {
        Opening(GetParam(), "agent"),
        Failed('E', "CServices::CSCMHandle::CSCMHandle", "::OpenSCManager", ERROR_ACCESS_DENIED)};
    EXPECT_EQ(expected, LoggedEntries(log));
    EXPECT_TRUE(scm.closed.empty());
}

TEST_P(ServicesOpening, AServiceThatCannotBeOpenedIsAWarningAndBothHandlesAreClosed)
{
    FakeScm scm;
    scm.openServiceError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(SERVICES_ERROR_OPEN_SERVICE_FAILED, GetParam().call(L"agent"));
    const std::vector<LoggedEntry> expected = {
        Opening(GetParam(), "agent"),
        Failed('W', "CServices::CServiceHandle::CServiceHandle", "::OpenService", ERROR_ACCESS_DENIED)};
    EXPECT_EQ(expected, LoggedEntries(log));
    EXPECT_EQ(std::vector<SC_HANDLE>{kManager}, scm.closed);
}

TEST_P(ServicesOpening, AServiceThatDoesNotExistIsNotLoggedAndTheManagerIsClosed)
{
    FakeScm scm;
    scm.openServiceError = ERROR_SERVICE_DOES_NOT_EXIST;
    EXPECT_EQ(SERVICES_ERROR_SERVICE_DOES_NOT_EXIST, GetParam().call(L"agent"));
    EXPECT_EQ(std::vector<LoggedEntry>{Opening(GetParam(), "agent")}, LoggedEntries(log));
    EXPECT_EQ(std::vector<SC_HANDLE>{kManager}, scm.closed);
}

TEST_P(ServicesOpening, ANameThatNoServiceHasLogsOnlyTheOpeningEntry)
{
    const std::string name = "pwtestsvc-missing-" + std::to_string(::GetCurrentProcessId());
    EXPECT_EQ(SERVICES_ERROR_SERVICE_DOES_NOT_EXIST, GetParam().call(std::wstring(name.begin(), name.end())));
    EXPECT_EQ(std::vector<LoggedEntry>{Opening(GetParam(), name)}, LoggedEntries(log));
}

TEST_F(ServicesStart, ARunningServiceGetsNoStartRequestAndHandlesCloseServiceFirst)
{
    scm.states = {SERVICE_RUNNING};
    EXPECT_EQ(SERVICES_SUCCESS, CServices::ServiceStart(L"agent"));
    EXPECT_EQ(0, scm.startRequests);
    EXPECT_TRUE(scm.sleeps.empty());
    EXPECT_EQ((std::vector<SC_HANDLE>{kService, kManager}), scm.closed);
}

TEST_F(ServicesStart, AlreadyRunningRefusalSucceedsWithoutWaiting)
{
    scm.states = {SERVICE_START_PENDING};
    scm.startErrors = {ERROR_SERVICE_ALREADY_RUNNING};
    EXPECT_EQ(SERVICES_SUCCESS, CServices::ServiceStart(L"agent"));
    EXPECT_EQ(1, scm.startRequests);
    EXPECT_TRUE(scm.sleeps.empty());
    EXPECT_EQ(std::vector<LoggedEntry>{Opening("CServices::ServiceStart", "agent")}, LoggedEntries(log));
}

TEST_F(ServicesStart, AStoppedServiceIsStartedAndAwaited)
{
    scm.states = {SERVICE_STOPPED, SERVICE_START_PENDING, SERVICE_START_PENDING, SERVICE_RUNNING};
    EXPECT_EQ(SERVICES_SUCCESS, CServices::ServiceStart(L"agent"));
    EXPECT_EQ(1, scm.startRequests);
    EXPECT_EQ((std::vector<DWORD>{300, 300, 300}), scm.sleeps);
}

TEST_F(ServicesStart, ADisabledServiceIsSetToDemandStartAndStarted)
{
    scm.startType = SERVICE_DISABLED;
    scm.startErrors = {ERROR_SERVICE_DISABLED};
    scm.states = {SERVICE_STOPPED, SERVICE_RUNNING};
    EXPECT_EQ(SERVICES_SUCCESS, CServices::ServiceStart(L"agent"));
    EXPECT_EQ(2, scm.startRequests);
    EXPECT_EQ((std::vector<DWORD>{SERVICE_NO_CHANGE, SERVICE_DEMAND_START, SERVICE_NO_CHANGE}),
              scm.changeArguments);
    const std::vector<LoggedEntry> expected = {Opening("CServices::ServiceStart", "agent"),
                                               Opening("CServices::EnableService", "agent"), Polling()};
    EXPECT_EQ(expected, LoggedEntries(log));
}

namespace
{
struct StartFailure
{
    const char* name;
    void (*arrange)(FakeScm&);
    ResultCode result;
    std::vector<LoggedEntry> failures; // the entries after the opening one
};

class ServicesStartFailure : public ::testing::TestWithParam<StartFailure>
{
protected:
    RecordingEventLog log;
};

INSTANTIATE_TEST_SUITE_P(
    AfterTheServiceIsOpen, ServicesStartFailure,
    ::testing::Values(
        StartFailure{
            "StatusQueryFails",
            [](FakeScm& s) { s.queryError = ERROR_INVALID_HANDLE; },
            SERVICES_ERROR_QUERY_SERVICE_FAILED,
            {Failed('E', "CServices::getServiceState", "::QueryServiceStatusEx", ERROR_INVALID_HANDLE),
             Failed('E', "CServices::ServiceStart", "CServices::getServiceState",
                    SERVICES_ERROR_QUERY_SERVICE_FAILED)}},
        StartFailure{
            "StartRefused",
            [](FakeScm& s) { s.startErrors = {ERROR_SERVICE_REQUEST_TIMEOUT}; },
            SERVICES_ERROR_START_SERVICE_FAILED,
            {Failed('E', "CServices::ServiceStart", "::StartService", ERROR_SERVICE_REQUEST_TIMEOUT)}},
        StartFailure{"DisabledAndCannotBeEnabled",
                     [](FakeScm& s)
                     {
                         s.startType = SERVICE_DISABLED;
                         s.startErrors = {ERROR_SERVICE_DISABLED};
                         s.changeError = ERROR_ACCESS_DENIED;
                     },
                     SERVICES_ERROR_CHANGE_SERVICE_CONFIG_FAILED,
                     {Opening("CServices::EnableService", "agent"),
                      Failed('E', "CServices::EnableService", "::ChangeServiceConfig", ERROR_ACCESS_DENIED),
                      Failed('E', "CServices::ServiceStart", "CServices::EnableService",
                             SERVICES_ERROR_CHANGE_SERVICE_CONFIG_FAILED)}},
        StartFailure{"EnabledButTheSecondStartIsRefused",
                     [](FakeScm& s)
                     {
                         s.startType = SERVICE_DISABLED;
                         s.startErrors = {ERROR_SERVICE_DISABLED, ERROR_SERVICE_DISABLED};
                     },
                     SERVICES_ERROR_START_SERVICE_FAILED,
                     {Opening("CServices::EnableService", "agent"),
                      Failed('E', "CServices::ServiceStart", "::StartService", ERROR_SERVICE_DISABLED)}},
        StartFailure{
            "EnabledButStillStartingFailsAnyway",
            [](FakeScm& s)
            {
                s.startType = SERVICE_DISABLED;
                s.startErrors = {ERROR_SERVICE_DISABLED, ERROR_SERVICE_ALREADY_RUNNING};
            },
            SERVICES_ERROR_START_SERVICE_FAILED,
            {Opening("CServices::EnableService", "agent"),
             Failed('E', "CServices::ServiceStart", "::StartService", ERROR_SERVICE_ALREADY_RUNNING)}}),
    [](const ::testing::TestParamInfo<StartFailure>& info) { return std::string(info.param.name); });
} // namespace

TEST_P(ServicesStartFailure, IsLoggedAndReturnedWithoutWaitingAndHandlesClose)
{
    const StartFailure& c = GetParam();
    FakeScm scm;
    c.arrange(scm);
    EXPECT_EQ(c.result, CServices::ServiceStart(L"agent"));
    std::vector<LoggedEntry> expected = {Opening("CServices::ServiceStart", "agent")};
    expected.insert(expected.end(), c.failures.begin(), c.failures.end());
    EXPECT_EQ(expected, LoggedEntries(log));
    EXPECT_TRUE(scm.sleeps.empty());
    ASSERT_GE(scm.closed.size(), 2u);
    EXPECT_EQ((std::vector<SC_HANDLE>{kService, kManager}),
              std::vector<SC_HANDLE>(scm.closed.end() - 2, scm.closed.end()));
}

TEST_F(ServicesStart, AServiceThatNeverRunsTimesOutAfterTenSeconds)
{
    scm.states = {SERVICE_STOPPED};
    EXPECT_EQ(SERVICES_ERROR_DESIRED_STATE_TIMEOUT, CServices::ServiceStart(L"agent"));
    EXPECT_EQ(10300u, scm.sleptMs());
    EXPECT_EQ(1 + 35, scm.queries);
    EXPECT_EQ(Failed('E', "CServices::ServiceStart", "CServices::waitForServiceState",
                     SERVICES_ERROR_DESIRED_STATE_TIMEOUT, "STATE_RUNNING"),
              LoggedEntries(log).back());
}

TEST_F(ServicesStop, AStoppedServiceGetsNoStopControl)
{
    scm.states = {SERVICE_STOPPED};
    EXPECT_EQ(SERVICES_SUCCESS, CServices::ServiceStop(L"agent"));
    EXPECT_EQ(0, scm.stopControls);
    EXPECT_TRUE(scm.sleeps.empty());
}

TEST_F(ServicesStop, ARefusedStopControlIsLoggedAndStillAwaited)
{
    scm.states = {SERVICE_STOP_PENDING, SERVICE_STOP_PENDING, SERVICE_STOP_PENDING, SERVICE_STOPPED};
    scm.controlError = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    EXPECT_EQ(SERVICES_SUCCESS, CServices::ServiceStop(L"agent"));
    EXPECT_EQ(1, scm.stopControls);
    EXPECT_EQ(900u, scm.sleptMs());
    const std::vector<LoggedEntry> expected = {Opening("CServices::ServiceStop", "agent"),
                                               Failed('E', "CServices::ServiceStop", "::ControlService",
                                                      ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
                                                      "SERVICE_CONTROL_STOP"),
                                               Polling()};
    EXPECT_EQ(expected, LoggedEntries(log));
}

TEST_F(ServicesStop, AServiceThatNeverStopsTimesOutAfterSixtySeconds)
{
    scm.states = {SERVICE_RUNNING};
    EXPECT_EQ(SERVICES_ERROR_DESIRED_STATE_TIMEOUT, CServices::ServiceStop(L"agent"));
    EXPECT_EQ(60300u, scm.sleptMs());
    EXPECT_EQ(1 + 201, scm.queries);
    EXPECT_EQ(Failed('E', "CServices::ServiceStop", "CServices::waitForServiceState",
                     SERVICES_ERROR_DESIRED_STATE_TIMEOUT, "STATE_STOPPED"),
              LoggedEntries(log).back());
}

// Regression: a callback that was queued as the handle closed ran later, in another wait, on a buffer
// that was gone.
TEST_F(ServicesStop, ACallbackQueuedAsTheHandleClosesRunsBeforeTheBufferGoes)
{
    scm.states = {SERVICE_RUNNING};
    PSERVICE_NOTIFYW registered = nullptr;
    ULONGLONG clock = 0;
    OverrideSet fakes;
    fakes
        .add(&pw::PlatformApi::NotifyServiceStatusChangeW,
             [&](SC_HANDLE, DWORD, PSERVICE_NOTIFYW buffer) -> DWORD
             {
                 registered = buffer; // and never called back
                 return ERROR_SUCCESS;
             })
        .add(&pw::PlatformApi::GetTickCount64, [&] { return clock; })
        .add(&pw::PlatformApi::SleepEx,
             [&](DWORD ms, BOOL alertable)
             {
                 clock += ms;
                 return ::SleepEx(0, alertable);
             })
        .add(&pw::PlatformApi::CloseServiceHandle,
             [&](SC_HANDLE handle)
             {
                 if (handle == kService)
                 {
                     QueueNotification(registered);
                 }
                 return TRUE;
             });
    EXPECT_EQ(SERVICES_ERROR_DESIRED_STATE_TIMEOUT, CServices::ServiceStop(L"agent"));
    EXPECT_EQ(0u, ::SleepEx(0, TRUE)) << "a callback was left queued";
}

namespace
{
class ServicesEnableStartType : public ::testing::TestWithParam<DWORD>
{
};

INSTANTIATE_TEST_SUITE_P(NotDisabled, ServicesEnableStartType,
                         ::testing::Values(SERVICE_AUTO_START, SERVICE_DEMAND_START, SERVICE_BOOT_START,
                                           SERVICE_SYSTEM_START));
} // namespace

TEST_P(ServicesEnableStartType, IsLeftUnchanged)
{
    FakeScm scm;
    scm.startType = GetParam();
    EXPECT_EQ(SERVICES_SUCCESS, CServices::EnableService(L"agent"));
    EXPECT_EQ(0, scm.changes);
}

TEST(ServicesEnable, ConfigurationQueryFailures)
{
    {
        RecordingEventLog log;
        FakeScm scm;
        scm.sizeQueryError = ERROR_ACCESS_DENIED;
        EXPECT_EQ(SERVICES_ERROR_QUERY_SERVICE_CONFIG_FAILED, CServices::EnableService(L"agent"));
        EXPECT_EQ(Failed('E', "CServices::EnableService", "::QueryServiceConfig", ERROR_ACCESS_DENIED,
                         "Failed to determine needed buffer size"),
                  LoggedEntries(log).back());
    }
    {
        RecordingEventLog log;
        FakeScm scm;
        scm.configQueryError = ERROR_INVALID_HANDLE;
        EXPECT_EQ(SERVICES_ERROR_QUERY_SERVICE_CONFIG_FAILED, CServices::EnableService(L"agent"));
        EXPECT_EQ(Failed('E', "CServices::EnableService", "::QueryServiceConfig", ERROR_INVALID_HANDLE),
                  LoggedEntries(log).back());
        EXPECT_EQ(0, scm.changes);
    }
}

namespace
{
struct WaitCase
{
    DWORD timeout;
    size_t polls;
    DWORD slept;
    DWORD lastSleep;
};

class ServicesWait : public ::testing::TestWithParam<WaitCase>
{
};

INSTANTIATE_TEST_SUITE_P(TimeOuts, ServicesWait,
                         ::testing::Values(WaitCase{10000, 35, 10300, 100}, WaitCase{60000, 201, 60300, 300},
                                           WaitCase{0, 1, 300, 300}, WaitCase{300, 2, 600, 300},
                                           WaitCase{301, 3, 601, 1}),
                         [](const ::testing::TestParamInfo<WaitCase>& info)
                         { return "After" + std::to_string(info.param.timeout) + "ms"; });
} // namespace

TEST_P(ServicesWait, PollsEveryStepAndEndsWithTheRemainder)
{
    const WaitCase& c = GetParam();
    FakeScm scm;
    scm.states = {SERVICE_START_PENDING};
    CServices::CStatusNotification notification;
    EXPECT_EQ(SERVICES_ERROR_DESIRED_STATE_TIMEOUT,
              CServices::waitForServiceState(kService, CServices::STATE_RUNNING, c.timeout, notification));
    EXPECT_EQ(c.polls, scm.sleeps.size());
    EXPECT_EQ(static_cast<int>(c.polls), scm.queries);
    EXPECT_EQ(c.slept, scm.sleptMs());
    EXPECT_EQ(c.lastSleep, scm.sleeps.back());
}

namespace
{
// What the first registration gives instead of the service control manager's answer.
DWORD Refused(PSERVICE_NOTIFYW)
{
    return ERROR_SERVICE_NOTIFY_CLIENT_LAGGING;
}
template <DWORD Status, DWORD State>
DWORD Reports(PSERVICE_NOTIFYW buffer)
{
    buffer->dwNotificationStatus = Status;
    buffer->ServiceStatus.dwCurrentState = State;
    QueueNotification(buffer);
    return ERROR_SUCCESS;
}

} // namespace

// The callback of a service that is there already comes in the last wait, of 0 ms, when no time is left.
TEST_F(ServicesWaitFailure, NoTimeLeftStillTakesTheNotificationThatIsQueued)
{
    const auto atOnce =
        OverrideApi(&pw::PlatformApi::NotifyServiceStatusChangeW,
                    [](SC_HANDLE, DWORD, PSERVICE_NOTIFYW b) { return Reports<0, SERVICE_RUNNING>(b); });
    CServices::CStatusNotification notification;
    EXPECT_EQ(SERVICES_SUCCESS,
              CServices::waitForServiceState(kService, CServices::STATE_RUNNING, 0, notification));
    EXPECT_TRUE(scm.sleeps.empty());
}

TEST_F(ServicesWaitFailure, AFailedPollCountsAsNotInTheWantedState)
{
    scm.queryError = ERROR_INVALID_HANDLE;
    // STATE_STOPPED is what a default or stale state would hold; a failed poll must not match it.
    CServices::CStatusNotification notification;
    EXPECT_EQ(SERVICES_ERROR_DESIRED_STATE_TIMEOUT,
              CServices::waitForServiceState(kService, CServices::STATE_STOPPED, 600, notification));
    EXPECT_EQ(3, scm.queries);
    const LoggedEntry query =
        Failed('E', "CServices::getServiceState", "::QueryServiceStatusEx", ERROR_INVALID_HANDLE);
    // The function name lacks the s of the class: the entry has always read so.
    const LoggedEntry poll = Failed('W', "CServices::waitForServiceState", "CService::getServiceState",
                                    SERVICES_ERROR_QUERY_SERVICE_FAILED);
    EXPECT_EQ((std::vector<LoggedEntry>{Polling(), query, poll, query, poll, query, poll}),
              LoggedEntries(log));
}

TEST_F(ServicesWaitFailure, APollThatFailsOnceAndThenSeesTheStateSucceeds)
{
    scm.states = {SERVICE_RUNNING};
    int polls = 0;
    auto failFirst = OverrideApi(&pw::PlatformApi::QueryServiceStatusEx,
                                 [&polls, query = pw::Api().QueryServiceStatusEx](
                                     SC_HANDLE h, SC_STATUS_TYPE t, LPBYTE b, DWORD s, LPDWORD n)
                                 {
                                     if (++polls == 1)
                                     {
                                         ::SetLastError(ERROR_INVALID_HANDLE);
                                         return FALSE;
                                     }
                                     return query(h, t, b, s, n);
                                 });
    CServices::CStatusNotification notification;
    EXPECT_EQ(SERVICES_SUCCESS,
              CServices::waitForServiceState(kService, CServices::STATE_RUNNING, 10000, notification));
    EXPECT_EQ(2, polls);
}

namespace
{

// A copy of the stand-in agent in a temporary folder, registered under a name of the test's own
// and removed afterwards.
class ServicesUnderScm : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(::CopyFileW((BuildDirectory() + L"zirodava.exe").c_str(), Exe().c_str(), FALSE))
            << "zirodava.exe is built beside the test program";
        m_manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(nullptr, m_manager);
    }

    void TearDown() override
    {
        OpenGates();
        if (m_service != nullptr)
        {
            if (State() == SERVICE_START_PENDING)
            {
                WaitFor(SERVICE_RUNNING);
            }
            if (State() != SERVICE_STOPPED)
            {
                SERVICE_STATUS status = {};
                ::ControlService(m_service, SERVICE_CONTROL_STOP, &status);
                EXPECT_TRUE(WaitFor(SERVICE_STOPPED));
            }
            EXPECT_TRUE(::DeleteService(m_service));
            ::CloseServiceHandle(m_service);
        }
        if (m_manager != nullptr)
        {
            ::CloseServiceHandle(m_manager);
        }
        // A stopped service's process may still be ending and hold its executable for a moment.
        for (const wchar_t* file : {L"zirodava.exe", L"zirodava-status.txt"})
        {
            const std::wstring path = m_directory.join(file);
            WaitUntil([&path]
                      { return ::DeleteFileW(path.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND; },
                      10000);
        }
        for (const HANDLE gate : m_gates)
        {
            ::CloseHandle(gate);
        }
    }

    // A closed gate for the agent's --start-gate or --stop-gate option: the agent holds its pending
    // state until the test opens the gate (at the latest when the test ends). Returns the option.
    std::wstring Gate(const wchar_t* option)
    {
        const std::wstring name = L"Global\\" + m_name + L"-gate-" + std::to_wstring(m_gates.size());
        const HANDLE gate = ::CreateEventW(nullptr, TRUE, FALSE, name.c_str());
        EXPECT_NE(nullptr, gate) << ::GetLastError();
        m_gates.push_back(gate);
        return std::wstring(option) + L"=" + name;
    }
    void OpenGates() const
    {
        for (const HANDLE gate : m_gates)
        {
            EXPECT_TRUE(::SetEvent(gate));
        }
    }

    void Create(DWORD startType, const std::wstring& arguments = L"")
    {
        const std::wstring command = L"\"" + Exe() + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
        m_service = ::CreateServiceW(m_manager, m_name.c_str(), m_name.c_str(), SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL,
                                     command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, m_service) << ::GetLastError();
    }

    SERVICE_STATUS_PROCESS Status() const
    {
        SERVICE_STATUS_PROCESS status = {};
        DWORD needed = 0;
        EXPECT_TRUE(::QueryServiceStatusEx(m_service, SC_STATUS_PROCESS_INFO,
                                           reinterpret_cast<LPBYTE>(&status), sizeof(status), &needed));
        return status;
    }
    DWORD State() const { return Status().dwCurrentState; }

    // Waits for a state that the service reaches by itself.
    bool WaitFor(DWORD state) const
    {
        return WaitUntil([this, state] { return State() == state; });
    }

    DWORD StartType() const
    {
        DWORD needed = 0;
        ::QueryServiceConfigW(m_service, nullptr, 0, &needed);
        std::vector<DWORD> buffer(needed / sizeof(DWORD) + 1);
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        EXPECT_TRUE(::QueryServiceConfigW(m_service, config, needed, &needed));
        return config->dwStartType;
    }

    // The agent's status file as its lines.
    std::vector<std::string> AgentStatus() const
    {
        std::ifstream in(m_directory.join(L"zirodava-status.txt").c_str());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
        {
            lines.push_back(line);
        }
        return lines;
    }

    std::wstring Exe() const { return m_directory.join(L"zirodava.exe"); }

    // Each case runs in a process of its own and Wine reuses process ids, so the service is named
    // after its folder, whose name is unique.
    TempDirectory m_directory;
    const std::wstring m_name = m_directory.path().substr(m_directory.path().find_last_of(L'\\') + 1);
    SC_HANDLE m_manager = nullptr;
    SC_HANDLE m_service = nullptr;
    std::vector<HANDLE> m_gates;
};

} // namespace

TEST_F(ServicesUnderScm, AStoppedServiceIsStartedThenStopped)
{
    Create(SERVICE_DEMAND_START);
    ASSERT_EQ(static_cast<DWORD>(SERVICE_STOPPED), State());

    ASSERT_EQ(SERVICES_SUCCESS, CServices::ServiceStart(m_name));
    const SERVICE_STATUS_PROCESS running = Status();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), running.dwCurrentState);
    const std::vector<std::string> status = AgentStatus();
    ASSERT_EQ(3u, status.size());
    EXPECT_EQ("pid=" + std::to_string(running.dwProcessId), status[0]);
    EXPECT_EQ(0u, status[1].rfind("fips=", 0));
    EXPECT_EQ("starts=1", status[2]);

    EXPECT_EQ(SERVICES_SUCCESS, CServices::ServiceStop(m_name));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), State());

    // Stopping a stopped service asks nothing of it.
    RecordingEventLog log;
    EXPECT_EQ(SERVICES_SUCCESS, CServices::ServiceStop(m_name));
    EXPECT_EQ(1u, log.entries().size());

    ASSERT_EQ(SERVICES_SUCCESS, CServices::ServiceStart(m_name));
    EXPECT_EQ("starts=2", AgentStatus().at(2));
}

TEST_F(ServicesUnderScm, ADisabledServiceIsSetToDemandStartAndStarted)
{
    Create(SERVICE_DISABLED);
    RecordingEventLog log;
    ASSERT_EQ(SERVICES_SUCCESS, CServices::ServiceStart(m_name));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), StartType());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), State());
    EXPECT_EQ(2u, log.entries().size()); // the opening entries of the start and of the enabling
}

TEST_F(ServicesUnderScm, AServiceThatIsStillStartingIsNotAwaited)
{
    Create(SERVICE_DEMAND_START, Gate(L"--start-gate"));
    ASSERT_TRUE(::StartServiceW(m_service, 0, nullptr));
    ASSERT_EQ(static_cast<DWORD>(SERVICE_START_PENDING), State());

    int sleeps = 0;
    const auto countSleeps = OverrideApi(&pw::PlatformApi::Sleep,
                                         [&](DWORD ms)
                                         {
                                             ++sleeps;
                                             ::Sleep(ms);
                                         });
    EXPECT_EQ(SERVICES_SUCCESS, CServices::ServiceStart(m_name));
    EXPECT_EQ(0, sleeps);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_START_PENDING), State()) << "the gate still holds it";

    OpenGates();
    EXPECT_TRUE(WaitFor(SERVICE_RUNNING));
}

TEST_F(ServicesUnderScm, AServiceThatIsAlreadyStoppingIsStillAwaited)
{
    Create(SERVICE_DEMAND_START, Gate(L"--stop-gate"));
    ASSERT_EQ(SERVICES_SUCCESS, CServices::ServiceStart(m_name));
    SERVICE_STATUS status = {};
    ASSERT_TRUE(::ControlService(m_service, SERVICE_CONTROL_STOP, &status));
    ASSERT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), State());

    // The service stays STOP_PENDING until the stop has begun to wait for its notification.
    int sleeps = 0;
    const auto openGatesOnFirstSleep =
        OverrideApi(&pw::PlatformApi::SleepEx,
                    [&](DWORD ms, BOOL alertable)
                    {
                        if (++sleeps == 1)
                        {
                            EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), State());
                            OpenGates();
                        }
                        return ::SleepEx(ms, alertable);
                    });
    RecordingEventLog log;
    EXPECT_EQ(SERVICES_SUCCESS, CServices::ServiceStop(m_name));
    EXPECT_LE(1, sleeps);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), State());
    const std::vector<LoggedEntry> expected = {
        Opening("CServices::ServiceStop", std::string(m_name.begin(), m_name.end())),
        Failed('E', "CServices::ServiceStop", "::ControlService", ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
               "SERVICE_CONTROL_STOP")};
    EXPECT_EQ(expected, LoggedEntries(log));
}

namespace
{
struct HeldCase
{
    const char* name;
    bool stop; // ServiceStop of the running agent, else ServiceStart of the stopped one
    DWORD (*first)(PSERVICE_NOTIFYW); // the first registration's answer; null: the real one
    int opensAt;                      // the sleep at which the gate opens; 0: never, the clock runs out
    bool polls;
};
class ServicesHeldPending : public ServicesUnderScm, public ::testing::WithParamInterface<HeldCase>
{
};
INSTANTIATE_TEST_SUITE_P(Gates, ServicesHeldPending,
                         ::testing::Values(HeldCase{"StartEndsOnTheNotification", false, nullptr, 1, false},
                                           HeldCase{"AnotherStateRegistersAgain", true,
                                                    Reports<0, SERVICE_STOP_PENDING>, 2, false},
                                           HeldCase{"RefusedRegistrationPolls", true, Refused, 1, true},
                                           HeldCase{"MarkedForDeletePolls", true,
                                                    Reports<ERROR_SERVICE_MARKED_FOR_DELETE, 0>, 1, true},
                                           HeldCase{"StopNeverComes", true, nullptr, 0, false},
                                           HeldCase{"StartNeverComes", false, nullptr, 0, false}),
                         [](const ::testing::TestParamInfo<HeldCase>& info)
                         { return std::string(info.param.name); });
} // namespace

// The agent is held pending by its gate until the wait's sleep that opens it.
TEST_P(ServicesHeldPending, TheWaitEndsOnlyWhenTheServiceGetsThere)
{
    const HeldCase& c = GetParam();
    Create(SERVICE_DEMAND_START, Gate(c.stop ? L"--stop-gate" : L"--start-gate"));
    ASSERT_TRUE(!c.stop || CServices::ServiceStart(m_name) == SERVICES_SUCCESS);
    const DWORD pending = c.stop ? SERVICE_STOP_PENDING : SERVICE_START_PENDING;
    std::string order; // what the wait's first sleep found, and what happened then
    ULONGLONG clock = 0;
    int sleeps = 0;
    const auto hold = [&](DWORD ms)
    {
        if (order.empty())
        {
            order = State() == pending ? "held" : "not held";
        }
        if (++sleeps == c.opensAt)
        {
            OpenGates();
            order += ", opened";
        }
        // A gate that never opens: the sleeps are not slept, only counted on the clock.
        clock += c.opensAt == 0 ? ms : 0;
        return c.opensAt == 0 ? 0 : ms;
    };
    int registrations = 0;
    OverrideSet fakes;
    fakes.add(&pw::PlatformApi::GetTickCount64, [&] { return clock; })
        .add(&pw::PlatformApi::SleepEx,
             [&](DWORD ms, BOOL alertable) { return ::SleepEx(hold(ms), alertable); })
        .add(&pw::PlatformApi::Sleep, [&](DWORD ms) { ::Sleep(hold(ms)); })
        .add(
            &pw::PlatformApi::NotifyServiceStatusChangeW,
            [&, real = pw::Api().NotifyServiceStatusChangeW](SC_HANDLE h, DWORD mask, PSERVICE_NOTIFYW buffer)
            { return ++registrations == 1 && c.first != nullptr ? c.first(buffer) : real(h, mask, buffer); });
    RecordingEventLog log;
    const ResultCode result = c.stop ? CServices::ServiceStop(m_name) : CServices::ServiceStart(m_name);
    order += ", returned";
    EXPECT_EQ(c.opensAt != 0 ? "held, opened, returned" : "held, returned", order);
    EXPECT_EQ(c.opensAt != 0 ? SERVICES_SUCCESS : SERVICES_ERROR_DESIRED_STATE_TIMEOUT, result);
    EXPECT_EQ(c.opensAt == 0 ? pending : c.stop ? SERVICE_STOPPED : SERVICE_RUNNING, State());
    const std::vector<LoggedEntry> entries = LoggedEntries(log);
    EXPECT_EQ(c.polls,
              std::any_of(entries.begin(), entries.end(),
                          [](const LoggedEntry& e) { return e.invoked == "::NotifyServiceStatusChange"; }));
}
