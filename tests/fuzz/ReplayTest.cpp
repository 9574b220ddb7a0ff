// Every checked-in input of every harness, replayed in the ordinary builds: corpus/<harness>/
// (the seeds, such as sessions, chunked sequences and hostile names, and what long fuzzing
// runs merged in, among them the inputs of the faults found so far) and
// regressions/<harness>/, the place for an input that crashed a harness or broke one of its
// invariants (none yet: a folder that does not exist is passed over).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "Harness.h"
#include "TestSupport.h"

namespace nelko::fuzz {
namespace {
namespace fs = std::filesystem;

std::vector<fs::path> InputsOf(const std::string& harness) {
    std::vector<fs::path> inputs;
    for (const char* folder : {"corpus", "regressions"}) {
        const fs::path directory = fs::path(NELKO_FUZZ_SOURCE_DIR) / folder / harness;
        if (!fs::is_directory(directory)) continue;
        for (const fs::directory_entry& entry : fs::directory_iterator(directory))
            if (entry.is_regular_file()) inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

class Replay : public ::testing::TestWithParam<std::string> {};

TEST_P(Replay, CheckedInInputsKeepEveryInvariant) {
    const Harness* harness = FindHarness(GetParam());
    ASSERT_NE(harness, nullptr);
    ASSERT_EQ(harness->setUp(), "");
    const std::vector<fs::path> inputs = InputsOf(GetParam());
    EXPECT_FALSE(inputs.empty());
    for (const fs::path& input : inputs) {
        const std::string bytes = test::ReadFile(input.string());
        EXPECT_EQ(harness->run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), "")
            << input.filename();
    }
}

INSTANTIATE_TEST_SUITE_P(Harnesses, Replay, ::testing::Values("fuzz_request", "fuzz_channel_events", "fuzz_init_names"),
                         [](const ::testing::TestParamInfo<std::string>& param) { return param.param; });

}  // namespace
}  // namespace nelko::fuzz
