#include "vpn/tools/hardenor/StandardConsole.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "support/OverrideSet.h"
#include "support/TempDirectory.h"
#include "vpn/Common/Platform/UniqueHandle.h"

namespace
{
// A Skipped line with an en dash pasted from a document and a server name with an accent, as UTF-8.
const char kLine[] = "Skipped \xE2\x80\x93y: upal=caf\xC3\xA9\n";
} // namespace

// A console gets the UTF-16 text whole, whatever its code page: it shows what was typed.
TEST(StandardConsole, AConsoleGetsTheTextAsTyped)
{
    std::wstring shown;
    OverrideSet fakes;
    fakes.add(&pw::PlatformApi::GetConsoleMode, [](HANDLE, LPDWORD mode) { return *mode = 3, TRUE; })
        .add(&pw::PlatformApi::WriteConsoleW,
             [&shown](HANDLE, const VOID* text, DWORD length, LPDWORD written, LPVOID)
             {
                 shown.append(static_cast<const wchar_t*>(text), length);
                 *written = length;
                 return TRUE;
             });
    CStandardConsole(reinterpret_cast<HANDLE>(0x1234)).write(kLine);
    EXPECT_EQ(L"Skipped \u2013y: upal=caf\u00e9\n", shown);
}

// A file or a pipe gets the bytes of the console's output code page, or of the OEM code page (437
// here) when the process has no console, with CR LF line ends.
TEST(StandardConsole, AFileGetsTheOutputCodePage)
{
    const TempDirectory folder;
    const struct
    {
        UINT outputCodePage;
        const char* text;
        std::string bytes;
    } rows[] = {{1252, kLine, "Skipped \x96y: upal=caf\xE9\r\n"},
                {0, "upal=caf\xC3\xA9\n\n", "upal=caf\x82\r\n\r\n"}};
    for (const auto& row : rows)
    {
        const std::wstring path = folder.join(L"out" + std::to_wstring(row.outputCodePage));
        {
            const CUniqueFileHandle file(
                ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
            ASSERT_TRUE(file.valid());
            const auto codePage =
                OverrideApi(&pw::PlatformApi::GetConsoleOutputCP, [&row] { return row.outputCodePage; });
            CStandardConsole(file.get()).write(row.text);
        }
        EXPECT_EQ(row.bytes, ReadFileBytes(path)) << row.outputCodePage;
    }
}
