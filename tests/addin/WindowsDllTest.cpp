// What a Windows client sees of the DLL: exports by ordinal and the version resource.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AddinLibrary.h"
#include "TestSupport.h"
#include "diagnostics/TraceLog.h"

namespace nelko::test {
namespace {

TEST(WindowsDllTest, ExportsByOrdinalAndName) {
    HMODULE dll = LoadLibraryA(AddinLibraryPath().c_str());
    ASSERT_NE(dll, nullptr);
    EXPECT_EQ(GetProcAddress(dll, MAKEINTRESOURCEA(1)), GetProcAddress(dll, "VirtualChannelEntry"));
    EXPECT_EQ(GetProcAddress(dll, MAKEINTRESOURCEA(2)), GetProcAddress(dll, "SimulationExecute"));
    EXPECT_NE(GetProcAddress(dll, "VirtualChannelEntry"), nullptr);
    EXPECT_EQ(GetProcAddress(dll, "VirtualChannelEntry@4"), nullptr);
    EXPECT_EQ(GetProcAddress(dll, MAKEINTRESOURCEA(3)), nullptr);
    FreeLibrary(dll);
}

TEST(WindowsDllTest, VersionResource) {
    const std::string path = AddinLibraryPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> data(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, data.data()));
    const std::pair<const char*, const char*> strings[] = {{"FileVersion", "1.4.1.0"},
                                                           {"ProductVersion", "1.4.1.0"},
                                                           {"OriginalFilename", "NelkoClientDriver.dll"},
                                                           {"InternalName", "NelkoClientDriver.dll"},
                                                           {"FileDescription", "NelkoClientDriver.dll"}};
    for (const auto& [name, expected] : strings) {
        char* value = nullptr;
        UINT length = 0;
        const std::string key = std::string("\\StringFileInfo\\040904b0\\") + name;
        ASSERT_TRUE(VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length)) << name;
        EXPECT_STREQ(value, expected) << name;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010004u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00010000u);
}

TEST(WindowsDllTest, LogPathKeepsTheTemporaryDirectorysBackslash) {
    TempDir dir;
    SetTemporaryDirectoryEnvironment(dir.Path());
    char expected[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, expected), 0u);
    EXPECT_EQ(GetLogFilePath(), std::string(expected) + "\\NelkoClientDriver.log");
    EXPECT_EQ(GetLogFilePath().substr(GetLogFilePath().size() - 23), "\\\\NelkoClientDriver.log");
}

}  // namespace
}  // namespace nelko::test
