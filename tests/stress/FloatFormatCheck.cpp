// Compares the add-in's float texts with std::to_chars for every float bit pattern (or every
// STRIDE-th): the fast formatting in Conversions.cpp must give exactly the same text with 6
// significant digits (value lists) and with 7 (single values).
//
//   ./nelko_float_format_check [STRIDE]     default 1: all 2^32 patterns, some minutes
#include <atomic>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "command/Conversions.h"

namespace {

std::string Expected(float value, int precision) {
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, static_cast<double>(value), std::chars_format::general, precision);
    return std::string(text, result.ptr);
}

struct Outcome {
    std::uint64_t checked = 0;
    std::uint64_t mismatches = 0;
    std::uint32_t firstBad = 0;
};

Outcome CheckRange(std::uint64_t first, std::uint64_t last, std::uint64_t stride) {
    Outcome outcome;
    std::string list;
    for (std::uint64_t bits = first; bits < last; bits += stride) {
        const auto pattern = static_cast<std::uint32_t>(bits);
        float value = 0;
        std::memcpy(&value, &pattern, sizeof value);
        list.clear();
        nelko::AppendFloatDefaultPrecision(list, value);
        const bool ok = list == Expected(value, 6) && nelko::FormatFloat(value) == Expected(value, 7);
        if (!ok && outcome.mismatches++ == 0) outcome.firstBad = pattern;
        ++outcome.checked;
    }
    return outcome;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t stride = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1;
    if (stride == 0) {
        std::fprintf(stderr, "usage: nelko_float_format_check [STRIDE]\n");
        return 2;
    }
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    constexpr std::uint64_t kPatterns = std::uint64_t{1} << 32;
    // Slices start on multiples of the stride, so the whole run visits the same patterns
    // whatever the number of threads.
    const std::uint64_t steps = (kPatterns + stride - 1) / stride;
    std::vector<Outcome> outcomes(threads);
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
        const std::uint64_t first = steps * t / threads * stride;
        const std::uint64_t last = std::min(kPatterns, steps * (t + 1) / threads * stride);
        workers.emplace_back([&outcomes, t, first, last, stride] { outcomes[t] = CheckRange(first, last, stride); });
    }
    Outcome total;
    for (unsigned t = 0; t < threads; ++t) {
        workers[t].join();
        total.checked += outcomes[t].checked;
        if (outcomes[t].mismatches > 0 && total.mismatches == 0) total.firstBad = outcomes[t].firstBad;
        total.mismatches += outcomes[t].mismatches;
    }
    std::printf("float patterns checked: %llu, mismatches: %llu\n", static_cast<unsigned long long>(total.checked),
                static_cast<unsigned long long>(total.mismatches));
    if (total.mismatches > 0) {
        float value = 0;
        std::memcpy(&value, &total.firstBad, sizeof value);
        std::string list;
        nelko::AppendFloatDefaultPrecision(list, value);
        std::printf("first: bits 0x%08x: \"%s\" / \"%s\", expected \"%s\" / \"%s\"\n", total.firstBad, list.c_str(),
                    nelko::FormatFloat(value).c_str(), Expected(value, 6).c_str(), Expected(value, 7).c_str());
        return 1;
    }
    return 0;
}
