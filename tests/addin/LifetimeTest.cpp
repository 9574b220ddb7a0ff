// The library's lifetime lines, seen from a fresh process that loads and unloads it.
#include <gtest/gtest.h>

#include "AddinLibrary.h"
#include "TestSupport.h"

namespace nelko::test {
namespace {

using Lines = std::vector<std::string>;

class LifetimeTest : public ::testing::Test {
protected:
    std::vector<std::string> RunHost(const std::vector<std::string>& steps, int expectedExit = 0) {
        SetTemporaryDirectoryEnvironment(logDir.Path());
        EXPECT_EQ(RunProgram("./" NELKO_ADDIN_HOST_FILE_NAME, steps), expectedExit);
        return LogMessages(ReadFile(logDir.File("NelkoClientDriver.log")));
    }

    TempDir logDir;
};

TEST_F(LifetimeTest, LoadAndUnloadWithoutEntry) {
    WriteFile(logDir.File("NelkoClientDriver.log"), "from an earlier process\n");
    const Lines lines = RunHost({});
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].rfind("VirtualChannelRDP (", 0), 0u);
    // "Mmm dd yyyyhh:mm:ss R)": the compiler's build date and time, side by side.
    EXPECT_EQ(lines[0].size(), std::string("VirtualChannelRDP (Jul 11 201613:06:31 R)").size());
    EXPECT_EQ(lines[0].substr(lines[0].size() - 3), " R)");
    EXPECT_EQ(Lines(lines.begin() + 1, lines.end()), (Lines{"ProcessAttach", "ProcessDetach", "~VirtualChannelRDP"}));
}

// The host also fails unless the driver library is gone once the add-in is unloaded.
TEST_F(LifetimeTest, UnloadReleasesTheDriverBeforeTheLastLine) {
    const Lines lines = RunHost({"entry", "run:Init|TestDriver|", "run:Measure|"});
    EXPECT_TRUE(ContainsInOrder(lines, {"ProcessAttach", "VirtualChannelEntry", "Virtual channel init successful",
                                        "SimulationExecute", "Loading Driver success", "SimulationExecute",
                                        "Command Measure ()", "ProcessDetach", "~VirtualChannelRDP"}));
    EXPECT_EQ(lines.back(), "~VirtualChannelRDP");
}

}  // namespace
}  // namespace nelko::test
