#pragma once

#include <string>
#include <vector>

#include "vpn/tools/hardenor/IConsole.h"

// The tool's own module: the entry point's run sequence and the restart of the VPN agent.

// The folders that the agent executable may be installed in, each ending in a backslash: the
// product's folder under the program files folder that Windows gives this process and, for a 32-bit
// process on 64-bit Windows, under the native one. None when the program files folder is unknown.
std::vector<std::wstring> agentFolders();

// True when the agent executable is installed as a regular file in one of the agent folders.
bool isAgentInstalled();

// Stops and starts the agent service so that it picks up the new local policy. Reports on the
// console and in the log; when the agent is not installed it only logs where it looked.
void restartAgent(IConsole& console);

// Writes the usage text to the console.
void printUsage(IConsole& console);

// The whole run of the tool, from the process's command line to its exit code (0 or -1; with
// /status 0, 1 or -1), with its messages and its one answer on console. Entries that the run logs
// name it "wmain", the entry point it runs for.
int HardenorMain(int argc, wchar_t** argv, IConsole& console);
