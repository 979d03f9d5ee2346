#pragma once

#include <windows.h>

#include <string>

// The stand-in agent "zirodava" as the end-to-end tests arrange it: its executable in the product's
// folder under the program files folder and its service registered with the real service control
// manager. The executable is the fixture program built beside the tests.
namespace agent
{
constexpr wchar_t kServiceName[] = L"zirodava";

// Copies the stand-in agent into place (replacing whatever is there) and registers the service on
// demand start when it is missing.
bool Install();
// Removes the executable (or a directory of its name) and leaves the service as it is.
void RemoveExecutable();
bool RegisterService();
void DeleteService();
bool SetStartType(DWORD startType);
DWORD StartType();
// The service's current state (SERVICE_RUNNING, ...), or 0 when it cannot be queried.
DWORD State();
bool Start();
bool Stop();
// Waits until the service reaches a state that it comes to by itself; the bound only keeps a
// broken service from hanging the tests.
bool WaitFor(DWORD state);
// A value of the agent's status file ("pid", "fips", "starts"); empty when missing.
std::string Status(const std::string& key);
} // namespace agent

namespace agent
{
// True when the service is registered.
bool ServiceRegistered();
} // namespace agent
