// Resident set size before and after a long run of requests through SimulationExecute:
// whatever the add-in keeps per request must not pile up.
//
// Run from the build's bin folder: ./nelko_memory_growth [REQUESTS]   (default 1,000,000)
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "BenchSupport.h"

namespace {

using namespace nelko::bench;

constexpr float kFloatAnswer = 12.345678f;
// Log and test-driver record are emptied this often: a million requests would otherwise
// leave a log of some hundred megabytes and a driver record of as much in memory.
constexpr std::uint64_t kCycle = 1000;
constexpr std::uint64_t kWarmUpRequests = 10 * kCycle;
constexpr std::size_t kGoalBytes = 1 << 20;

const std::array<const char*, 4> kMix{"Hello", "Measure|", "GetSpectralDataAll|0|", "Foo|"};

std::array<std::string, kMix.size()> ExpectedAnswers() {
    std::string values = "OK|12.3457";
    for (int i = 1; i < 31; ++i) values += ";12.3457";
    return {"OK|Hello", "OK|true", values, "ERROR|Unknown command \"Foo\""};
}

double MiB(std::size_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t requests = 1000000;
    if (argc > 1) requests = std::strtoull(argv[1], nullptr, 10);
    if (argc > 2 || requests == 0) {
        std::fprintf(stderr, "usage: nelko_memory_growth [REQUESTS]\n");
        return 2;
    }

    PrivateLogFolder folder;
    std::string error;
    if (!folder.Ok()) {
        std::fprintf(stderr, "nelko_memory_growth: cannot create a private folder below $TMPDIR\n");
        return 1;
    }
    std::unique_ptr<AddinLibrary> addin = LoadAddin(error);
    if (addin == nullptr || !UseTestDriver(*addin, kFloatAnswer, error)) {
        std::fprintf(stderr, "nelko_memory_growth: %s\n", error.c_str());
        return 1;
    }

    const auto expected = ExpectedAnswers();
    char buffer[kResponseBufferSize];
    std::uint64_t wrong = 0;
    const auto run = [&](std::uint64_t count) {
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::size_t which = i % kMix.size();
            const std::uint32_t length = addin->ExecuteInto(kMix[which], buffer, sizeof buffer);
            if (length != expected[which].size() || std::memcmp(buffer, expected[which].data(), length) != 0) {
                ++wrong;
            }
            if ((i + 1) % kCycle == 0) {
                EmptyFile(folder.LogPath());
                ClearTestDriverRecord(kFloatAnswer);
            }
        }
    };

    // Everything allocated once (allocator arenas, the driver's record at its largest, the
    // dispatcher's table) is in place before the first figure.
    const std::size_t loaded = ResidentBytes();
    run(kWarmUpRequests);
    const std::size_t before = ResidentBytes();
    const auto start = std::chrono::steady_clock::now();
    run(requests);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const std::size_t after = ResidentBytes();
    const std::size_t peak = PeakResidentBytes();
    addin.reset();

    const long long growth = static_cast<long long>(after) - static_cast<long long>(before);
    const bool met = growth < static_cast<long long>(kGoalBytes);
    std::printf("requests            %llu (Hello, Measure|, GetSpectralDataAll|0|, Foo| in turn; %llu warm-up first)\n",
                static_cast<unsigned long long>(requests), static_cast<unsigned long long>(kWarmUpRequests));
    std::printf("RSS after loading   %zu bytes (%.2f MiB; add-in loaded, Init|TestDriver| done)\n", loaded,
                MiB(loaded));
    std::printf("RSS before          %zu bytes (%.2f MiB; after the warm-up)\n", before, MiB(before));
    std::printf("RSS after           %zu bytes (%.2f MiB)\n", after, MiB(after));
    std::printf("RSS growth          %lld bytes (%.1f KiB); goal < 1 MiB: %s\n", growth,
                static_cast<double>(growth) / 1024.0, met ? "met" : "NOT met");
    std::printf("RSS peak            %zu bytes (%.2f MiB)\n", peak, MiB(peak));
    std::printf("time                %.1f s (%.0f requests/s)\n", elapsed.count(),
                static_cast<double>(requests) / elapsed.count());
    std::printf("wrong answers       %llu\n", static_cast<unsigned long long>(wrong));
    return wrong == 0 ? 0 : 1;
}
