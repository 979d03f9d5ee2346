#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "AgentFixture.h"
#include "HardenorProcess.h"

namespace
{
// Every case starts with the stand-in agent installed, registered on demand start and stopped,
// and no policy file.
class AgentRestart : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RemovePath(PolicyFilePath());
        ASSERT_TRUE(agent::Install());
        ASSERT_TRUE(agent::SetStartType(SERVICE_DEMAND_START));
        if (agent::State() != SERVICE_STOPPED)
        {
            agent::Stop();
            ASSERT_TRUE(agent::WaitFor(SERVICE_STOPPED));
        }
    }
    void TearDown() override
    {
        agent::RegisterService();
        if (agent::State() == SERVICE_RUNNING)
        {
            agent::Stop();
            agent::WaitFor(SERVICE_STOPPED);
        }
        agent::RemoveExecutable();
    }
};
} // namespace

TEST_F(AgentRestart, RunningAgentIsRestartedAndReadsTheNewPolicy)
{
    ASSERT_TRUE(agent::Start());
    ASSERT_TRUE(agent::WaitFor(SERVICE_RUNNING));
    const std::string oldPid = agent::Status("pid");
    EXPECT_EQ("none", agent::Status("fips"));

    HardenorResult run = RunHardenor({L"fm=false"});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(kDisabled + kRestarting + kRestarted, run.output);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), agent::State());
    EXPECT_NE(oldPid, agent::Status("pid")) << "the agent runs in a new process";
    EXPECT_EQ("off", agent::Status("fips"));

    run = RunHardenor({}, "y\n");
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_NE(std::string::npos, run.output.find(kEnabled + kRestarting + kRestarted)) << run.output;
    EXPECT_EQ("on", agent::Status("fips"));
}

TEST_F(AgentRestart, StoppedAgentIsStarted)
{
    const HardenorResult run = RunHardenor({});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(kEnabled + kRestarting + kRestarted, run.output);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), agent::State());
    EXPECT_EQ("on", agent::Status("fips"));
}

TEST_F(AgentRestart, DisabledAgentIsSetToDemandStartAndStarted)
{
    ASSERT_TRUE(agent::SetStartType(SERVICE_DISABLED));
    const HardenorResult run = RunHardenor({});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(kEnabled + kRestarting + kRestarted, run.output);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), agent::StartType());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), agent::State());
}

TEST_F(AgentRestart, MissingExecutableOrADirectoryInItsPlaceMeansNoRestart)
{
    agent::RemoveExecutable();
    for (const bool directory : {false, true})
    {
        ASSERT_TRUE(!directory || ::CreateDirectoryW(AgentExecutablePath().c_str(), nullptr));
        const HardenorResult run = RunHardenor({L"/y"}); // the second run finds the first one's file
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_EQ(kEnabled, run.output) << directory;
        EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), agent::State());
    }
    RemovePath(AgentExecutablePath());
}

TEST_F(AgentRestart, ExecutableWithoutServiceCannotBeStopped)
{
    agent::DeleteService();
    const HardenorResult run = RunHardenor({});
    EXPECT_EQ(0u, run.exitCode) << "a failed restart does not change the exit code";
    EXPECT_EQ(kEnabled + kRestarting + "Could not stop the VPN agent service.\r\n", run.output);
}
