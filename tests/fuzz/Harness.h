// The fuzzing harnesses, shared by the libFuzzer programs (built with NELKO_FUZZ) and the
// replay tests that run every checked-in input in the ordinary builds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nelko::fuzz {

struct Harness {
    const char* name;  // the libFuzzer program's name, and its corpus folder's
    // Once per process; returns what went wrong, or an empty text.
    std::string (*setUp)();
    // One input; returns the first broken invariant, or an empty text.
    std::string (*run)(const std::uint8_t* data, std::size_t size);
};

const std::vector<Harness>& Harnesses();
const Harness* FindHarness(const std::string& name);

// The private folder tree every harness works in, made once per process:
//   ROOT/inside/         the working directory: copies of the drivers, and sub/ with two more
//   ROOT/Outside.so      complete drivers outside it, which no "Init" may ever reach
//   ROOT/away/Outside.so
//   ROOT/Bait.so         libraries outside it that mark the environment when loaded
//   ROOT/away/Bait.so
// The drivers inside stay loaded for the whole process. The tree goes away at a normal
// exit. Entering it also sends the trace log to a sink that drops the entries.
struct RunTree {
    std::string binaries;  // where the built drivers are
    std::string root;
    std::string inside;
    std::vector<std::string> outsideDrivers;  // absolute paths
};
const RunTree& EnterRunTree();

// Empty unless code from outside the working directory has run (a bait library was loaded)
// since the last call.
std::string TakeBaitMark();

// The harnesses.
std::string SetUpRequests();
std::string RunRequests(const std::uint8_t* data, std::size_t size);
std::string SetUpChannelEvents();
std::string RunChannelEvents(const std::uint8_t* data, std::size_t size);
std::string SetUpInitNames();
std::string RunInitName(const std::uint8_t* data, std::size_t size);

}  // namespace nelko::fuzz
