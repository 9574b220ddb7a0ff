// Round trips through the server-side library, run inside an xrdp session by
// tests/e2e/xrdp-session.sh (scripts/bench-e2e.sh): the setup requests once, then each timed
// request COUNT times one at a time after WARMUP untimed ones. One JSON line per timed
// request, in the fields of the test server's benchmark lines.
//
// Usage: nelko_remote_bench COUNT WARMUP SETUP_FILE REQUEST...
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "LatencyStats.h"
#include "nelko/RemoteConnection.h"

int main(int argc, char** argv) try {
    if (argc < 5) {
        std::cerr << "usage: nelko_remote_bench COUNT WARMUP SETUP_FILE REQUEST...\n";
        return 2;
    }
    const int count = std::stoi(argv[1]);
    const int warmup = std::stoi(argv[2]);
    nelko::remote::Connection connection;
    std::ifstream setup(argv[3]);
    for (std::string line; std::getline(setup, line);)
        if (!line.empty()) connection.Execute(line);
    for (int i = 4; i < argc; ++i) {
        const std::string request = argv[i];
        for (int n = 0; n < warmup; ++n) connection.Execute(request);
        std::vector<double> samples;
        samples.reserve(static_cast<std::size_t>(count));
        const auto start = std::chrono::steady_clock::now();
        for (int n = 0; n < count; ++n) {
            const auto before = std::chrono::steady_clock::now();
            connection.Execute(request);
            samples.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - before).count());
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const nelko::e2e::LatencySummary s = nelko::e2e::SummarizeLatencies(samples);
        std::printf("{\"request\":\"%s\",\"count\":%d,\"median_us\":%.1f,\"p99_us\":%.1f,\"rps\":%.1f}\n",
                    request.c_str(), count, s.medianUs, s.p99Us, count / seconds);
    }
    return 0;
} catch (const std::exception& e) {
    std::cerr << "nelko_remote_bench: " << e.what() << '\n';
    return 1;
}
