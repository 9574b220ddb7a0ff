#include "ScriptRunner.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <sstream>

namespace nelko::e2e {
namespace {

constexpr std::size_t kMaxMismatchDetails = 5;
constexpr std::uint64_t kNeighbourSearch = 16;

double MillisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string Fixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

// Names the request a stray response belongs to, when an exact expectation tells.
std::string WhoseResponse(const Expectation& expect, const std::string& response, std::uint64_t index,
                          std::uint64_t count) {
    if (expect.GetKind() != Expectation::Kind::Exact) return {};
    const std::uint64_t from = index > kNeighbourSearch ? index - kNeighbourSearch : 0;
    const std::uint64_t to = std::min(count, index + kNeighbourSearch + 1);
    for (std::uint64_t j = from; j < to; ++j) {
        if (j != index && expect.Text(j) == response)
            return " (that is the response to request " + std::to_string(j) +
                   (j < index ? ": duplicated or reordered)" : ": earlier ones lost or reordered)");
    }
    return {};
}

std::string JsonString(std::string_view text) {
    static const char* const kHex = "0123456789abcdef";
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (u < 0x20) {
            out += "\\u00";
            out.push_back(kHex[u >> 4]);
            out.push_back(kHex[u & 0xf]);
        } else {
            out.push_back(c);
        }
    }
    return out + "\"";
}

}  // namespace

WindowedOutcome RunWindowed(Link& link, const TextTemplate& request, const Expectation& expect, std::uint64_t count,
                            std::size_t window, std::chrono::milliseconds firstTimeout,
                            std::chrono::milliseconds replyTimeout) {
    WindowedOutcome out;
    const std::uint64_t limit = window == 0 ? count : static_cast<std::uint64_t>(window);
    std::deque<Clock::time_point> sentAt;
    const auto start = Clock::now();
    auto lastProgress = start;

    auto sendMore = [&]() {
        while (out.sent < count && out.sent - out.received < limit) {
            std::string error;
            if (!link.Send(request.Expand(out.sent), error)) {
                out.error = "sending request " + std::to_string(out.sent) + " failed: " + error;
                return false;
            }
            sentAt.push_back(Clock::now());
            ++out.sent;
        }
        return true;
    };

    if (sendMore()) {
        while (out.received < count) {
            const auto timeout = out.received == 0 ? firstTimeout : replyTimeout;
            const Received r = link.Receive(lastProgress + timeout);
            if (r.status == Received::Status::Timeout) {
                out.error = std::to_string(count - out.received) + " of " + std::to_string(count) +
                            " response(s) missing: nothing arrived for " + std::to_string(timeout.count()) + " ms" +
                            (out.received > 0 ? " after response " + std::to_string(out.received - 1) : "");
                break;
            }
            if (r.status == Received::Status::Closed) {
                out.error = "connection lost after " + std::to_string(out.received) + " of " + std::to_string(count) +
                            " response(s): " + r.error;
                break;
            }
            const auto now = Clock::now();
            lastProgress = now;
            out.latenciesUs.push_back(std::chrono::duration<double, std::micro>(now - sentAt.front()).count());
            sentAt.pop_front();
            const std::uint64_t index = out.received++;
            if (!expect.Matches(r.data, index)) {
                ++out.mismatches;
                if (out.mismatchDetails.size() < kMaxMismatchDetails)
                    out.mismatchDetails.push_back("response " + std::to_string(index) + ": expected " +
                                                  expect.Describe(index) + ", got " + Printable(r.data) +
                                                  WhoseResponse(expect, r.data, index, count));
            }
            out.lastResponse = r.data;
            if (!sendMore()) break;
        }
    }
    out.complete = out.received == count && out.error.empty();
    out.elapsed = Clock::now() - start;
    return out;
}

std::chrono::milliseconds ScriptRunner::FirstTimeout() {
    return freshConnection_ ? std::max(options_.firstReplyTimeout, options_.replyTimeout) : options_.replyTimeout;
}

ScriptRunner::StepResult ScriptRunner::Exchange(const Step& step) {
    const auto start = Clock::now();
    const WindowedOutcome o =
        RunWindowed(link_, step.request, step.expect, 1, 1, FirstTimeout(), options_.replyTimeout);
    const std::string what = "line " + std::to_string(step.line) + ": " + Printable(step.request.Expand(0));
    if (!o.complete) {
        out_ << "FAIL " << what << ": " << o.error << '\n';
        return StepResult::Abort;
    }
    freshConnection_ = false;
    if (o.mismatches > 0) {
        out_ << "FAIL " << what << ": expected " << step.expect.Describe(0) << ", got " << Printable(o.lastResponse)
             << '\n';
        return StepResult::Fail;
    }
    out_ << "PASS " << what << " -> " << Printable(o.lastResponse) << " (" << Fixed(MillisSince(start), 2) << " ms)\n";
    return StepResult::Pass;
}

ScriptRunner::StepResult ScriptRunner::Bulk(const Step& step) {
    const std::size_t window = step.window != 0 ? step.window : options_.defaultWindow;
    const WindowedOutcome o =
        RunWindowed(link_, step.request, step.expect, step.count, window, FirstTimeout(), options_.replyTimeout);
    const std::string what = "line " + std::to_string(step.line) + ": bulk " + std::to_string(step.count) + " x " +
                             Printable(step.request.Source());
    if (o.received > 0) freshConnection_ = false;
    const double seconds = std::chrono::duration<double>(o.elapsed).count();
    const std::string rate = seconds > 0 ? Fixed(static_cast<double>(o.received) / seconds, 0) + " req/s" : "-";

    bool failed = false;
    if (o.mismatches > 0) {
        out_ << "FAIL " << what << ": " << o.mismatches << " of " << o.received << " response(s) wrong\n";
        for (const std::string& detail : o.mismatchDetails) out_ << "     " << detail << '\n';
        failed = true;
    }
    if (!o.complete) {
        out_ << "FAIL " << what << ": " << o.error << '\n';
        return StepResult::Abort;
    }
    // Every response is in; anything more now is a duplicate.
    std::size_t extra = 0;
    std::string firstExtra;
    const auto quietUntil = Clock::now() + options_.settle;
    while (true) {
        const Received r = link_.Receive(quietUntil);
        if (r.status != Received::Status::Message) break;
        if (extra++ == 0) firstExtra = r.data;
    }
    if (extra > 0) {
        out_ << "FAIL " << what << ": " << extra << " response(s) more than requests, first " << Printable(firstExtra)
             << '\n';
        failed = true;
    }
    if (failed) return StepResult::Fail;
    const LatencySummary lat = SummarizeLatencies(o.latenciesUs);
    out_ << "PASS " << what << ": " << o.received << " responses in order, " << rate << ", median "
         << Fixed(lat.medianUs / 1000.0, 3) << " ms, p99 " << Fixed(lat.p99Us / 1000.0, 3) << " ms\n";
    return StepResult::Pass;
}

ScriptRunner::StepResult ScriptRunner::Reconnect(const Step& step) {
    const bool graceful = step.kind == Step::Kind::Disconnect;
    const char* name = graceful ? "disconnect" : "drop";
    const auto start = Clock::now();
    std::string error;
    if (!link_.Reconnect(graceful, error)) {
        out_ << "FAIL line " << step.line << ": " << name << ": " << error << '\n';
        return StepResult::Abort;
    }
    freshConnection_ = true;
    out_ << "PASS line " << step.line << ": " << name << ": next connection up after " << Fixed(MillisSince(start), 0)
         << " ms\n";
    return StepResult::Pass;
}

ScriptRunner::StepResult ScriptRunner::Silence(const Step& step, std::chrono::milliseconds quiet, const char* what) {
    const auto until = Clock::now() + quiet;
    std::size_t stray = 0;
    std::string first;
    while (true) {
        const Received r = link_.Receive(until);
        if (r.status == Received::Status::Timeout) break;
        if (r.status == Received::Status::Closed) {
            out_ << "FAIL line " << step.line << ": connection lost " << what << ": " << r.error << '\n';
            return StepResult::Abort;
        }
        if (stray++ == 0) first = r.data;
    }
    if (stray > 0) {
        out_ << "FAIL line " << step.line << ": " << stray << " unexpected message(s) " << what << ", first "
             << Printable(first) << '\n';
        return StepResult::Fail;
    }
    return StepResult::Pass;
}

ScriptRunner::StepResult ScriptRunner::Pause(const Step& step) { return Silence(step, step.duration, "during pause"); }

RunSummary ScriptRunner::Run(const std::vector<Step>& steps) {
    RunSummary summary;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        StepResult result = StepResult::Pass;
        switch (step.kind) {
            case Step::Kind::Exchange: result = Exchange(step); break;
            case Step::Kind::Bulk: result = Bulk(step); break;
            case Step::Kind::Disconnect:
            case Step::Kind::Drop: result = Reconnect(step); break;
            case Step::Kind::Pause: result = Pause(step); break;
            case Step::Kind::Silence:
                result = Silence(step, step.duration, "in the silence window");
                if (result == StepResult::Pass)
                    out_ << "PASS line " << step.line << ": silence " << step.duration.count() << " ms\n";
                break;
        }
        if (result == StepResult::Pass) {
            if (step.kind != Step::Kind::Pause) ++summary.passed;
        } else {
            ++summary.failed;
        }
        if (result == StepResult::Abort) {
            summary.aborted = true;
            for (std::size_t j = i + 1; j < steps.size(); ++j) {
                out_ << "SKIP line " << steps[j].line << '\n';
                ++summary.skipped;
            }
            return summary;
        }
    }
    // Nothing may trail the last step (e.g. a duplicated final response).
    Step end;
    end.line = steps.empty() ? 0 : steps.back().line;
    const StepResult tail = Silence(end, options_.settle, "after the last step");
    if (tail != StepResult::Pass) {
        ++summary.failed;
        summary.aborted = tail == StepResult::Abort;
    }
    return summary;
}

BenchResult RunBench(Link& link, const std::string& request, const Expectation& expect, std::uint64_t warmup,
                     std::uint64_t count, std::size_t window, std::chrono::milliseconds firstTimeout,
                     std::chrono::milliseconds replyTimeout) {
    BenchResult result;
    result.request = request;
    result.count = count;
    result.window = window;
    TextTemplate text;
    try {
        text = TextTemplate::Parse(request);
    } catch (const std::invalid_argument& e) {
        result.error = e.what();
        return result;
    }
    if (warmup > 0) {
        const WindowedOutcome w = RunWindowed(link, text, expect, warmup, window, firstTimeout, replyTimeout);
        if (!w.complete) {
            result.error = "warm-up: " + w.error;
            return result;
        }
        result.mismatches += w.mismatches;
        firstTimeout = replyTimeout;
    }
    const WindowedOutcome o = RunWindowed(link, text, expect, count, window, firstTimeout, replyTimeout);
    result.mismatches += o.mismatches;
    result.latency = SummarizeLatencies(o.latenciesUs);
    const double seconds = std::chrono::duration<double>(o.elapsed).count();
    result.requestsPerSecond = seconds > 0 ? static_cast<double>(o.received) / seconds : 0;
    if (!o.complete)
        result.error = o.error;
    else if (result.mismatches > 0)
        result.error = std::to_string(result.mismatches) + " wrong response(s)" +
                       (o.mismatchDetails.empty() ? "" : ", first: " + o.mismatchDetails.front());
    result.ok = result.error.empty();
    return result;
}

std::string BenchLine(const BenchResult& r) {
    std::ostringstream out;
    out << "BENCH request=" << Printable(r.request, 40) << " count=" << r.count << " window=" << r.window
        << " median_us=" << Fixed(r.latency.medianUs, 1) << " p99_us=" << Fixed(r.latency.p99Us, 1)
        << " min_us=" << Fixed(r.latency.minUs, 1) << " max_us=" << Fixed(r.latency.maxUs, 1)
        << " mean_us=" << Fixed(r.latency.meanUs, 1) << " rps=" << Fixed(r.requestsPerSecond, 1)
        << " mismatches=" << r.mismatches << " status=" << (r.ok ? "ok" : "failed");
    if (!r.ok) out << " error=" << Printable(r.error, 200);
    return out.str();
}

std::string BenchJson(const BenchResult& r) {
    std::ostringstream out;
    out << "{\"request\":" << JsonString(r.request) << ",\"count\":" << r.count << ",\"window\":" << r.window
        << ",\"samples\":" << r.latency.count << ",\"median_us\":" << Fixed(r.latency.medianUs, 1)
        << ",\"p99_us\":" << Fixed(r.latency.p99Us, 1) << ",\"min_us\":" << Fixed(r.latency.minUs, 1)
        << ",\"max_us\":" << Fixed(r.latency.maxUs, 1) << ",\"mean_us\":" << Fixed(r.latency.meanUs, 1)
        << ",\"rps\":" << Fixed(r.requestsPerSecond, 1) << ",\"mismatches\":" << r.mismatches
        << ",\"ok\":" << (r.ok ? "true" : "false") << ",\"error\":" << JsonString(r.error) << "}";
    return out.str();
}

}  // namespace nelko::e2e
