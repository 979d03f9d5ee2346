#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "AgentFixture.h"
#include "HardenorProcess.h"
#include "support/FaultInjector.h"
#include "support/OverrideSet.h"
#include "support/PolicyDocument.h"
#include "support/QueuedNotification.h"
#include "support/RecordingEventLog.h"
#include "support/ScriptedConsole.h"
#include "vpn/tools/hardenor/Hardenor.h"

namespace
{
const std::string kOldPolicy = PolicyFile({"<FipsMode>false</FipsMode>"});

struct Outcome
{
    int exitCode = 0;
    bool escaped = false;
    bool errorEntry = false;
    std::vector<const char*> calls;
    std::vector<std::string> unbalanced;
    std::string policy;
    std::vector<std::wstring> folder;
};

std::vector<std::wstring> FolderContents()
{
    std::vector<std::wstring> names = FindFiles(PolicyDirectory(), L"*");
    std::sort(names.begin(), names.end());
    return names;
}

// The service manager without its timing: the agent stops at once on a stop control and runs at
// once on a start request, and sleeps return at once. A notification for the state it is in is queued
// at once; one for another state is refused, so that the wait polls. Then every run makes the same calls.
OverrideSet InstantService(DWORD& state)
{
    OverrideSet fakes;
    fakes.add(&pw::PlatformApi::Sleep, [](DWORD) {})
        .add(&pw::PlatformApi::NotifyServiceStatusChangeW,
             [&state](SC_HANDLE, DWORD mask, PSERVICE_NOTIFYW buffer) -> DWORD
             {
                 if ((mask & (1u << (state - 1))) == 0)
                 {
                     return ERROR_SERVICE_NOTIFY_CLIENT_LAGGING;
                 }
                 buffer->ServiceStatus.dwCurrentState = state;
                 QueueNotification(buffer);
                 return ERROR_SUCCESS;
             })
        .add(&pw::PlatformApi::QueryServiceStatusEx,
             [&state](SC_HANDLE, SC_STATUS_TYPE, LPBYTE buffer, DWORD size, LPDWORD needed)
             {
                 SERVICE_STATUS_PROCESS status = {};
                 status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
                 status.dwCurrentState = state;
                 *needed = sizeof(status);
                 if (size < sizeof(status))
                 {
                     ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
                     return FALSE;
                 }
                 std::memcpy(buffer, &status, sizeof(status));
                 return TRUE;
             })
        .add(&pw::PlatformApi::ControlService,
             [&state](SC_HANDLE, DWORD, LPSERVICE_STATUS)
             {
                 state = SERVICE_STOPPED;
                 return TRUE;
             })
        .add(&pw::PlatformApi::StartServiceW,
             [&state](SC_HANDLE, DWORD, LPCWSTR*)
             {
                 state = SERVICE_RUNNING;
                 return TRUE;
             });
    return fakes;
}

// A whole run inside this process over the old policy file, answering "y", with the call of index
// failAt failed (-1: none).
Outcome RunOnce(long failAt)
{
    // A new file each time: Wine makes a file's rights up from its mode, which the tool's own file
    // changes, and the checks of the rights read one entry of them at a time.
    RemovePath(PolicyFilePath());
    WriteFileBytes(PolicyFilePath(), kOldPolicy);
    // With a schema beside it, so that the steps that hand it to the reader are swept too.
    WriteFileBytes(PolicyDirectory() + L"PathweaveLocalPolicy.xsd",
                   "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
                   "targetNamespace=\"http://www.veskar.com/pathweave/LocalPolicy\"/>");
    Outcome outcome;
    {
        RecordingEventLog log(false);
        DWORD state = SERVICE_RUNNING;
        const OverrideSet fakes = InstantService(state);
        ScriptedConsole console("y");
        std::wstring program = L"hardenor.exe";
        wchar_t* argv[] = {&program[0], nullptr};
        FaultInjector injector(failAt);
        try
        {
            outcome.exitCode = HardenorMain(1, argv, console);
        }
        catch (...)
        {
            outcome.escaped = true;
        }
        outcome.calls = injector.calls();
        outcome.unbalanced = injector.unbalanced();
        for (const EventLogEntry& entry : log.entries())
        {
            outcome.errorEntry |= entry.type == EVENTLOG_ERROR_TYPE;
            outcome.escaped |= entry.text.find("unexpected exception") != std::string::npos;
        }
    }
    outcome.policy = ReadFileBytes(PolicyFilePath());
    outcome.folder = FolderContents();
    RemovePath(PolicyDirectory() + L"PathweaveLocalPolicy.xsd");
    return outcome;
}
} // namespace

// A run with the agent installed and running and a policy file present makes N platform calls; the
// sweep repeats it N times, failing the k-th call the k-th time. Each run ends with 0 or with -1 and
// an error entry, leaves the old or the new policy file and nothing beside it, and releases all it
// acquired. Sleeps and the service manager's states are fakes, so that every repetition makes the
// same calls as the first up to the failed one; files, folders, the reader and the event log are real.
// Results (Wine 8, x86_64): N = 241; 157 repetitions ended 0 and 84 ended -1. Seven of the calls (one
// CoUninitialize, six SysFreeString) cannot fail and pass on, and the four of GetTickCount64 read the
// real clock when failed.
TEST(FaultSweep, EveryPlatformCallOfARunMayFail)
{
    ASSERT_TRUE(agent::Install());
    if (agent::State() != SERVICE_RUNNING)
    {
        ASSERT_TRUE(agent::Start());
        ASSERT_TRUE(agent::WaitFor(SERVICE_RUNNING));
    }
    CreateDirectories(PolicyDirectory());
    for (const std::wstring& name : FindFiles(PolicyDirectory(), L"*.tmp"))
    {
        RemovePath(PolicyDirectory() + name);
    }

    const Outcome first = RunOnce(-1);
    ASSERT_EQ(0, first.exitCode);
    ASSERT_EQ(std::vector<std::string>(), first.unbalanced);
    ASSERT_NE(kOldPolicy, first.policy);
    const std::string newPolicy = first.policy;
    const size_t n = first.calls.size();

    int endedWith[2] = {0, 0}; // 0, -1
    for (size_t k = 0; k < n; ++k)
    {
        const Outcome run = RunOnce(static_cast<long>(k));
        SCOPED_TRACE("call " + std::to_string(k) + " of " + std::to_string(n) + ": " + first.calls[k]);
        ASSERT_GT(run.calls.size(), k);
        ASSERT_TRUE(std::equal(first.calls.begin(), first.calls.begin() + k + 1, run.calls.begin()))
            << "the run made other calls before the failed one";
        EXPECT_FALSE(run.escaped);
        EXPECT_TRUE(run.exitCode == 0 || run.exitCode == -1) << run.exitCode;
        endedWith[run.exitCode == 0 ? 0 : 1]++;
        EXPECT_TRUE(run.exitCode == 0 || run.errorEntry) << "a failed run logs an error";
        EXPECT_TRUE(run.exitCode == 0 ? run.policy == newPolicy
                                      : run.policy == newPolicy || run.policy == kOldPolicy)
            << run.exitCode << "\n"
            << run.policy;
        EXPECT_EQ(first.folder, run.folder);
        EXPECT_EQ(std::vector<std::string>(), run.unbalanced);
        for (const std::wstring& name : run.folder)
        {
            if (std::find(first.folder.begin(), first.folder.end(), name) == first.folder.end())
            {
                RemovePath(PolicyDirectory() + name);
            }
        }
    }
    std::printf("fault sweep: N = %u, %d runs ended 0, %d ended -1\n", static_cast<unsigned>(n), endedWith[0],
                endedWith[1]);
    agent::Stop();
    agent::WaitFor(SERVICE_STOPPED);
}
