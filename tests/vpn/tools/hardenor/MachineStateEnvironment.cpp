#include <gtest/gtest.h>

#include <string>

#include "AgentFixture.h"
#include "HardenorProcess.h"

namespace
{
// The end-to-end tests share the project's Wine machine with the demo run: leave the policy file
// and the stand-in agent as they were found.
class MachineStateEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        m_hadPolicy = FileExists(PolicyFilePath());
        m_policy = ReadFileBytes(PolicyFilePath());
        m_hadAgent = FileExists(AgentExecutablePath());
        m_hadService = agent::ServiceRegistered();
    }

    void TearDown() override
    {
        if (m_hadPolicy)
        {
            CreateDirectories(PolicyDirectory());
            WriteFileBytes(PolicyFilePath(), m_policy);
        }
        else
        {
            RemovePath(PolicyFilePath());
        }
        if (m_hadAgent)
        {
            agent::Install();
        }
        else
        {
            agent::RemoveExecutable();
        }
        if (!m_hadService)
        {
            agent::DeleteService();
        }
    }

private:
    bool m_hadPolicy = false;
    std::string m_policy;
    bool m_hadAgent = false;
    bool m_hadService = false;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new MachineStateEnvironment);
} // namespace
