// The library's lifetime lines, seen from a fresh process that loads and unloads it.
#include <gtest/gtest.h>

#include "AddinLibrary.h"
#include "TestSupport.h"

namespace nelko::test {
namespace {

using Lines = std::vector<std::string>;

#if defined(_WIN32)
constexpr bool kLogKeptAcrossLoads = true;
#else
constexpr bool kLogKeptAcrossLoads = false;
#endif

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

// One log for the whole process where a client may load the library again (Windows: FreeRDP's
// client looks for the extended entry first, unloads the DLL and loads it again); on Linux,
// where FreeRDP loads the plug-in once, a new load starts the log anew.
TEST_F(LifetimeTest, LoadingAgainInOneProcess) {
    const Lines lines = RunHost({"run:Hello|", "reload", "run:Foo|"});
    const Lines second{"ProcessAttach", "SimulationExecute", "ProcessDetach", "~VirtualChannelRDP"};
    Lines both{"ProcessAttach", "SimulationExecute", "Hello -> Hello", "ProcessDetach", "~VirtualChannelRDP"};
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_TRUE(ContainsInOrder(lines, kLogKeptAcrossLoads ? both : second));
    EXPECT_EQ(ContainsInOrder(lines, {"Hello -> Hello"}), kLogKeptAcrossLoads);
}

// The host also fails unless the driver library is gone once the add-in is unloaded.
TEST_F(LifetimeTest, UnloadReleasesTheDriverBeforeTheLastLine) {
    const Lines lines = RunHost({"entry", "run:Init|TestDriver|", "run:Measure|"});
    EXPECT_TRUE(ContainsInOrder(lines, {"ProcessAttach", "VirtualChannelEntry", "Virtual channel init successful",
                                        "SimulationExecute", "Loading Driver success", "SimulationExecute",
                                        "Command Measure ()", "ProcessDetach", "~VirtualChannelRDP"}));
    EXPECT_EQ(lines.back(), "~VirtualChannelRDP");
}

// A driver whose initialisation throws must not leave the client hung in its library
// loader (the next load, here on another thread, would wait for ever). Either the process
// ends at once and the log says why, or the system's loader caught the exception itself and
// the client goes on loading drivers.
TEST_F(LifetimeTest, ADriverThrowingWhileLoadedNeverHangsTheClient) {
    SetTemporaryDirectoryEnvironment(logDir.Path());
    const int exitCode =
        RunProgram("./" NELKO_ADDIN_HOST_FILE_NAME, {"thread:Init|ThrowOnLoad|", "run:Init|NelkoSimulator|"});
    const Lines lines = LogMessages(ReadFile(logDir.File("NelkoClientDriver.log")));
    ASSERT_NE(exitCode, 6) << "hung";
    if (exitCode == 0) {
        EXPECT_TRUE(ContainsInOrder(lines, {"Loading driver \"ThrowOnLoad\"", "Loading Driver error",
                                            "Loading driver \"NelkoSimulator\"", "Loading Driver success"}));
    } else {
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(Lines(lines.end() - 3, lines.end()),
                  (Lines{"Loading driver \"ThrowOnLoad\"", "Loading Driver error",
                         "! The driver threw an exception while it was loaded: the process ends, as the system's "
                         "library loader stays locked after that"}));
    }
}

}  // namespace
}  // namespace nelko::test
