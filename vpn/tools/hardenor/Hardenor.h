#pragma once

#include "vpn/tools/hardenor/IConsole.h"

// The tool's own module: the entry point's run sequence and the restart of the VPN agent.

// True when the agent executable is installed as a regular file in the product's folder under the
// program files folder.
bool isAgentInstalled();

// Stops and starts the agent service so that it picks up the new local policy. Reports on the
// console and in the log; does nothing when the agent is not installed.
void restartAgent(IConsole& console);

// True when an argument asks for the usage text ("/?", "-?", "-h", "--help").
bool isHelpRequested(int argc, const wchar_t* const* argv);

// True when an argument asks for the FIPS state that the policy file holds ("/status").
bool isStatusRequested(int argc, const wchar_t* const* argv);

// True when an argument answers the overwrite prompt in advance ("/y"): an existing policy file is
// then replaced without asking.
bool isOverwriteConfirmed(int argc, const wchar_t* const* argv);

// Writes the usage text to the console.
void printUsage(IConsole& console);

// The whole run of the tool, from the process's command line to its exit code (0 or -1; with
// /status 0, 1 or -1), with its messages and its one answer on console. Entries that the run logs
// name it "wmain", the entry point it runs for.
int HardenorMain(int argc, wchar_t** argv, IConsole& console);
