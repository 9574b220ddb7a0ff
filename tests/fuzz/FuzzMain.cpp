// The libFuzzer entry points. The program's file name picks the harness (fuzz_request,
// fuzz_channel_events, fuzz_init_names), so one source serves all of them.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Harness.h"

namespace {

const nelko::fuzz::Harness* harness = nullptr;

// A broken invariant is a finding like a crash: libFuzzer saves the input on abort.
void Require(const std::string& broken, const char* where) {
    if (broken.empty()) return;
    std::fprintf(stderr, "\n%s: %s: %s\n", harness != nullptr ? harness->name : "?", where, broken.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    const std::string program = *argc > 0 ? (*argv)[0] : "";
    const std::string name = program.substr(program.find_last_of('/') + 1);
    harness = nelko::fuzz::FindHarness(name);
    if (harness == nullptr) Require("no harness named \"" + name + "\"", "set-up");
    Require(harness->setUp(), "set-up");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Require(harness->run(data, size), "invariant broken");
    return 0;
}
