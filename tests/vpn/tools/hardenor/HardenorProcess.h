#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/TempDirectory.h"

// Runs hardenor.exe (built beside the test program) as a separate process under the real platform,
// with standard input taken from a given text and standard output captured.
struct HardenorResult
{
    DWORD exitCode = 0;
    std::string output; // standard output as bytes (text mode: CR LF line ends)
    std::string errors; // standard error
};

class HardenorProcess
{
public:
    // Starts hardenor.exe with the arguments; input is what standard input holds (it then ends).
    HardenorProcess(const std::vector<std::wstring>& arguments, const std::string& input);
    ~HardenorProcess();
    HardenorProcess(const HardenorProcess&) = delete;
    HardenorProcess& operator=(const HardenorProcess&) = delete;

    bool started() const { return m_process != nullptr; }
    // Ends the process at once, as a deployment tool that times out does, and waits until it is gone.
    void kill();
    // Waits for the process to end (at most timeoutMs) and collects its output.
    HardenorResult wait(DWORD timeoutMs = 180000);

private:
    HANDLE m_process = nullptr;
    std::wstring m_inputPath;
    std::wstring m_outputPath;
    std::wstring m_errorPath;
};

HardenorResult RunHardenor(const std::vector<std::wstring>& arguments,
                           const std::string& input = std::string());

// Lines that the tool writes to its console.
inline const std::string kEnabled = "FIPS Mode has Successfully been Enabled\r\n";
inline const std::string kDisabled =
    "FIPS Mode has now been disabled. Please rerun the tool without a fm=false "
    "argument if you wish to enable FIPS.\r\n";
inline const std::string kRestarting = "Restarting the VPN Agent process...\r\n";
inline const std::string kRestarted = "The VPN agent has been successfully restarted.\r\n";

// Folders and files of the machine, as the tool and the agent see them.
std::wstring FolderPath(int csidl);
std::wstring PolicyDirectory(); // ...\ProgramData\Veskar\Veskar Pathweave Roamguard Client\ (trailing
                                // backslash)
std::wstring PolicyFilePath();
std::wstring AgentDirectory(); // the product folder under the program files folder of this process
std::wstring AgentExecutablePath();

bool FileExists(const std::wstring& path);
// Creates every missing directory of a path that ends in a backslash.
void CreateDirectories(const std::wstring& path);
// Removes a file or an empty directory; missing is fine.
void RemovePath(const std::wstring& path);
// The files of a directory whose names match a pattern such as L"*.tmp".
std::vector<std::wstring> FindFiles(const std::wstring& directory, const std::wstring& pattern);
