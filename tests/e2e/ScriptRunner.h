// Runs session scripts and benchmarks over a request/response link, reporting PASS/FAIL lines.
// The link is abstract so the accounting (lost, duplicated, reordered, late responses) can be
// tested without a Remote Desktop connection.
#pragma once

#include "LatencyStats.h"
#include "SessionScript.h"

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace nelko::e2e {

using Clock = std::chrono::steady_clock;

struct Received {
    enum class Status { Message, Timeout, Closed };
    Status status = Status::Timeout;
    std::string data;
    std::string error;  // for Closed
};

class Link {
public:
    virtual ~Link() = default;
    // Queues one request; false (with error set) if the connection cannot take it.
    virtual bool Send(const std::string& request, std::string& error) = 0;
    // The next whole response, or Timeout once the deadline passes, or Closed.
    virtual Received Receive(Clock::time_point deadline) = 0;
    // Ends the connection (graceful: the client is told and exits; otherwise the connection is
    // cut) and waits for the client's next connection.
    virtual bool Reconnect(bool graceful, std::string& error) = 0;
};

struct RunOptions {
    std::chrono::milliseconds replyTimeout{5000};
    // The first response after a connection starts also waits for the client to open its
    // channels.
    std::chrono::milliseconds firstReplyTimeout{10000};
    // Quiet time after a bulk step and at the end of the script in which nothing may arrive.
    std::chrono::milliseconds settle{200};
    std::size_t defaultWindow = 0;  // bulk steps without window=W; 0 = all at once
};

struct RunSummary {
    std::size_t passed = 0;
    std::size_t failed = 0;
    std::size_t skipped = 0;
    bool aborted = false;
    bool Ok() const { return failed == 0 && !aborted; }
};

// The result of sending count requests with at most window unanswered.
struct WindowedOutcome {
    std::uint64_t sent = 0;
    std::uint64_t received = 0;
    std::uint64_t mismatches = 0;
    std::vector<std::string> mismatchDetails;  // the first few
    std::vector<double> latenciesUs;
    std::string lastResponse;
    Clock::duration elapsed{};
    bool complete = false;  // every response arrived
    std::string error;      // why not
};

WindowedOutcome RunWindowed(Link& link, const TextTemplate& request, const Expectation& expect, std::uint64_t count,
                            std::size_t window, std::chrono::milliseconds firstTimeout,
                            std::chrono::milliseconds replyTimeout);

class ScriptRunner {
public:
    ScriptRunner(Link& link, RunOptions options, std::ostream& out) : link_(link), options_(options), out_(out) {}

    RunSummary Run(const std::vector<Step>& steps);

    // Tell the runner a fresh connection is up (its first reply may take longer).
    void ConnectionStarted() { freshConnection_ = true; }

private:
    enum class StepResult { Pass, Fail, Abort };

    StepResult Exchange(const Step& step);
    StepResult Bulk(const Step& step);
    StepResult Reconnect(const Step& step);
    StepResult Pause(const Step& step);
    StepResult Silence(const Step& step, std::chrono::milliseconds quiet, const char* what);
    std::chrono::milliseconds FirstTimeout();

    Link& link_;
    RunOptions options_;
    std::ostream& out_;
    bool freshConnection_ = true;
};

struct BenchResult {
    std::string request;
    std::uint64_t count = 0;
    std::size_t window = 1;
    LatencySummary latency;
    double requestsPerSecond = 0;
    std::uint64_t mismatches = 0;
    bool ok = false;
    std::string error;
};

// Warm-up requests first (not measured), then count measured ones.
BenchResult RunBench(Link& link, const std::string& request, const Expectation& expect, std::uint64_t warmup,
                     std::uint64_t count, std::size_t window, std::chrono::milliseconds firstTimeout,
                     std::chrono::milliseconds replyTimeout);

std::string BenchLine(const BenchResult& result);
std::string BenchJson(const BenchResult& result);

}  // namespace nelko::e2e
