// Replays of faults with the exact answers due, where a harness's invariants would not
// notice them: so far the one the long channel session found. (Inputs that crashed a harness
// or broke one of its invariants are replayed by ReplayTest.cpp from corpus/ and regressions/.)
#include <gtest/gtest.h>

#include <filesystem>

#include "Harness.h"
#include "TestSupport.h"
#include "command/Instrument.h"

namespace nelko::fuzz {
namespace {
namespace fs = std::filesystem;

using Steps = std::vector<std::pair<std::string, std::string>>;

void Replay(Instrument& instrument, const Steps& steps) {
    for (const auto& [request, answer] : steps) EXPECT_EQ(instrument.Execute(request).ToString(), answer) << request;
}

// Found by the long session: GCC gave NelkoSimulator.so a STB_GNU_UNIQUE symbol, so glibc
// never unloaded it and "Init" after another driver brought back the old instrument, still
// connected, calibrated and holding its samples.
TEST(Regression, SimulatorLoadedAgainStartsAfresh) {
    EnterRunTree();
    // A copy of its own: other tests in this process may hold ./NelkoSimulator.so.
    fs::create_directories("reload");
    fs::copy_file(test::DriverFileName("NelkoSimulator"), "reload/" + test::DriverFileName("NelkoSimulator"),
                  fs::copy_options::overwrite_existing);
    Instrument instrument;
    Replay(instrument, {{"Init|reload/NelkoSimulator|", "OK"},
                        {"Connect|", "OK|true"},
                        {"Calibrate|", "OK|true"},
                        {"Init|TestDriver|", "OK"}});
    EXPECT_FALSE(test::IsLibraryResident("./reload/" + test::DriverFileName("NelkoSimulator")));
    Replay(instrument,
           {{"Init|reload/NelkoSimulator|", "OK"}, {"IsConnected|", "OK|false"}, {"GetCalStatus|", "OK|0"}});
}

}  // namespace
}  // namespace nelko::fuzz
