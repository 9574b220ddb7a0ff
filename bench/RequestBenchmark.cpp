// Time per request through SimulationExecute, beside the floor every request must pay: the
// same number of trace entries, each one checked open (its one fstat), write and close of a
// line of the same length in the same directory. What the ratio add-in / floor shows above 1
// is the add-in's own work.
//
// Three drivers: BenchDriver answers from constants and records nothing, so with it the
// add-in's work is all there is besides the floor (the goals are judged on it); TestDriver
// answers at once too but appends every call to a text; NelkoSimulator computes its curves.
//
// Run from the build's bin folder (drivers load from the working directory):
//   ./nelko_request_bench                          defaults: 5 repetitions, interleaved
//   ./nelko_request_bench --benchmark_filter=Hello any Google Benchmark flag overrides them
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "TestSupport.h"

namespace nelko::bench {
namespace {

// The test driver's answer to every value request: all of "%g"'s six digits in use.
constexpr float kTestFloatAnswer = 12.345678f;
// Requests per timed batch on each side: long enough that reading the clock is negligible,
// short enough that both sides see the same moments of the machine.
constexpr int kBatch = 16;
// "DD.MM.YYYY - HH:MM:SS  " before each message.
constexpr std::size_t kStampLength = 23;
// Batches per repetition: a fixed count, so a run takes the same few seconds whatever the
// timing; about 0.2 s of add-in time and as much of floor time per repetition.
constexpr benchmark::IterationCount kBatchesPerRepetition = 1500;
// The logs are emptied after this many batches, untimed, so that neither file grows
// without bound and both have the same size at every moment of the comparison.
constexpr std::int64_t kEmptyLogsEveryBatches = 64;
// The simulator keeps at most 100 samples: it is emptied (and measured once) this often.
constexpr std::int64_t kSimulatorResetEveryBatches = 6;

struct Request {
    const char* name;  // in benchmark names, which filters read as regular expressions
    const char* text;
    std::size_t entries;  // trace entries the add-in writes for it; checked against the log
    double goal;          // highest acceptable ratio add-in / floor
};

const std::array<Request, 4> kRequests{{
    {"Hello", "Hello", 2, 1.05},
    {"Measure", "Measure|", 3, 1.05},
    {"GetSpectralDataAll", "GetSpectralDataAll|0|", 3, 1.15},
    {"Unknown", "Foo|", 2, 1.05},
}};

enum class Driver { Bench, Test, Simulator };
constexpr std::array<Driver, 3> kDrivers{Driver::Bench, Driver::Test, Driver::Simulator};

const char* DriverName(Driver driver) {
    switch (driver) {
        case Driver::Bench: return "BenchDriver";
        case Driver::Test: return "TestDriver";
        case Driver::Simulator: return "NelkoSimulator";
    }
    return "";
}

// Worked out without the add-in's help; only valid right after the driver gave its values.
std::string ExpectedAnswer(Driver driver, const Request& request) {
    const std::string text = request.text;
    if (text == "Hello") return "OK|Hello";
    if (text == "Measure|") return "OK|true";
    if (text == "Foo|") return "ERROR|Unknown command \"Foo\"";
    return ExpectedSpectralDataAll(DriverName(driver));
}

std::string Mismatch(const std::string& answer, const std::string& expected) {
    std::string text = "answered \"";
    text.append(answer).append("\", expected \"").append(expected) += '"';
    return text;
}

class Bench {
public:
    bool Start(std::string& error) {
        if (!folder_.Ok()) {
            error = "cannot create a private folder below $TMPDIR";
            return false;
        }
        floorPath_ = folder_.File("floor.log");
        addin_ = LoadAddin(error);
        return addin_ != nullptr && Use(Driver::Bench, error) && CaptureFloorLines(error);
    }

    void Stop() { addin_.reset(); }

    bool Use(Driver driver, std::string& error) {
        if (loaded_ && driver_ == driver) return true;
        loaded_ = false;
        bool ok = false;
        switch (driver) {
            case Driver::Bench: ok = UseBenchDriver(*addin_, error); break;
            case Driver::Test: ok = UseTestDriver(*addin_, kTestFloatAnswer, error); break;
            case Driver::Simulator: ok = UseSimulator(*addin_, error); break;
        }
        if (!ok) return false;
        driver_ = driver;
        loaded_ = true;
        EmptyFile(folder_.LogPath());
        return true;
    }

    // Back to the state the timed loop started from, with both logs empty.
    void Reset(Driver driver) {
        if (driver == Driver::Test) {
            ClearTestDriverRecord(kTestFloatAnswer);
        } else if (driver == Driver::Simulator) {
            addin_->Execute("ClearSamples|");
            addin_->Execute("Measure|");
        }
        EmptyFile(folder_.LogPath());
        EmptyFile(floorPath_);
    }

    const AddinLibrary& TheAddin() const { return *addin_; }
    const std::string& FloorPath() const { return floorPath_; }
    const std::vector<std::string>& FloorLines(std::size_t request) const { return floorLines_[request]; }
    const std::vector<std::string>& FloorMessages(std::size_t request) const { return floorMessages_[request]; }
    const std::string& Folder() const { return folder_.Path(); }

private:
    // The floor writes exactly the lines the add-in wrote for the same request.
    bool CaptureFloorLines(std::string& error) {
        for (std::size_t i = 0; i < kRequests.size(); ++i) {
            const Request& request = kRequests[i];
            EmptyFile(folder_.LogPath());
            const std::string answer = addin_->Execute(request.text).value_or("");
            const std::string expected = ExpectedAnswer(Driver::Bench, request);
            if (answer != expected) {
                error = std::string("\"").append(request.text).append("\" ").append(Mismatch(answer, expected));
                return false;
            }
            floorLines_[i] = SplitLines(test::ReadFile(folder_.LogPath()));
            for (const std::string& line : floorLines_[i]) {
                floorMessages_[i].push_back(line.substr(kStampLength, line.size() - kStampLength - 1));
            }
            if (floorLines_[i].size() != request.entries) {
                error = std::string("\"") + request.text + "\" wrote " + std::to_string(floorLines_[i].size()) +
                        " trace entries, expected " + std::to_string(request.entries);
                return false;
            }
        }
        EmptyFile(folder_.LogPath());
        return true;
    }

    PrivateLogFolder folder_;
    std::unique_ptr<AddinLibrary> addin_;
    Driver driver_ = Driver::Bench;
    bool loaded_ = false;
    std::string floorPath_;
    std::array<std::vector<std::string>, kRequests.size()> floorLines_;
    std::array<std::vector<std::string>, kRequests.size()> floorMessages_;
};

Bench* theBench = nullptr;

// What a log in a directory shared with other users cannot do without: the open refuses
// symbolic links and FIFOs, and one fstat tells what was opened.
int OpenCheckedEntry(const char* path) {
    const int file = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    struct stat info = {};
    if (file >= 0 && ::fstat(file, &info) != 0) {
        ::close(file);
        return -1;
    }
    return file;
}

// One entry as the strict floor writes it: nothing but the open, its one check, the write
// and the close.
bool AppendEntry(const char* path, const std::string& line) {
    const int file = OpenCheckedEntry(path);
    if (file < 0) return false;
    const bool written = ::write(file, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    return ::close(file) == 0 && written;
}

// One entry as the stamped floor writes it: the time read and formatted with snprintf, then
// the same system calls.
bool AppendStampedEntry(const char* path, const std::string& message) {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    char line[512];
    const int length =
        std::snprintf(line, sizeof line, "%02d.%02d.%04d - %02d:%02d:%02d  %s\n", parts.tm_mday, parts.tm_mon + 1,
                      parts.tm_year + 1900, parts.tm_hour, parts.tm_min, parts.tm_sec, message.c_str());
    const int file = OpenCheckedEntry(path);
    if (file < 0 || length <= 0) return false;
    const bool written = ::write(file, line, static_cast<std::size_t>(length)) == length;
    return ::close(file) == 0 && written;
}

// CPU time of this thread: on a machine shared with other work, wall time would also count
// the moments another process held the core, at random on either side.
double ThreadSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Each iteration is a batch of the request through the add-in, a batch of the strict
// floor's entries and one of the stamped floor's, in rotating order, each timed on its own,
// so all three see the same moments (journal commits, cache state) and the ratios are taken
// over the same iterations. The reported time is the add-in's per request; the floors' and
// the ratios are counters.
void PairedRequest(benchmark::State& state, Driver driver, std::size_t index) {
    std::string error;
    if (!theBench->Use(driver, error)) {
        // NOLINTNEXTLINE(readability-redundant-string-cstr): Google Benchmark 1.7 takes a C string
        state.SkipWithError(error.c_str());
        return;
    }
    const Request& request = kRequests[index];
    const AddinLibrary& addin = theBench->TheAddin();
    const std::vector<std::string>& lines = theBench->FloorLines(index);
    const std::vector<std::string>& messages = theBench->FloorMessages(index);
    const char* const floorPath = theBench->FloorPath().c_str();
    const std::int64_t resetEvery = driver == Driver::Simulator ? kSimulatorResetEveryBatches : kEmptyLogsEveryBatches;

    char buffer[kResponseBufferSize];
    bool answered = true;
    bool floorOk = true;
    double seconds[3] = {0, 0, 0};  // add-in, strict floor, stamped floor
    std::int64_t untilReset = resetEvery;
    int first = 0;
    theBench->Reset(driver);
    for (auto _ : state) {
        double addinBatch = 0;
        for (int turn = 0; turn < 3; ++turn) {
            const int side = (first + turn) % 3;
            const double start = ThreadSeconds();
            if (side == 0) {
                // Calls into another library through a pointer: nothing the optimiser can drop.
                for (int i = 0; i < kBatch; ++i) answered &= addin.ExecuteInto(request.text, buffer, sizeof buffer) > 0;
            } else if (side == 1) {
                for (int i = 0; i < kBatch; ++i) {
                    for (const std::string& line : lines) floorOk &= AppendEntry(floorPath, line);
                }
            } else {
                for (int i = 0; i < kBatch; ++i) {
                    for (const std::string& message : messages) floorOk &= AppendStampedEntry(floorPath, message);
                }
            }
            const double elapsed = ThreadSeconds() - start;
            seconds[side] += elapsed;
            if (side == 0) addinBatch = elapsed;
        }
        first = (first + 1) % 3;
        state.SetIterationTime(addinBatch / kBatch);
        // Untimed: manual timing counts only what is reported above.
        if (--untilReset == 0) {
            theBench->Reset(driver);
            untilReset = resetEvery;
        }
    }

    theBench->Reset(driver);
    const std::string answer = theBench->TheAddin().Execute(request.text).value_or("");
    const std::string expected = ExpectedAnswer(driver, request);
    theBench->Reset(driver);
    if (!answered || answer != expected) {
        // NOLINTNEXTLINE(readability-redundant-string-cstr): Google Benchmark 1.7 takes a C string
        state.SkipWithError(Mismatch(answer, expected).c_str());
        return;
    }
    if (!floorOk) {
        state.SkipWithError("floor: open/write/close failed");
        return;
    }
    const double requests = static_cast<double>(state.iterations()) * kBatch;
    state.counters["entries"] = static_cast<double>(request.entries);
    state.counters["floor_us"] = seconds[1] * 1e6 / requests;
    state.counters["ratio"] = seconds[1] > 0 ? seconds[0] / seconds[1] : 0;
    state.counters["stamped_us"] = seconds[2] * 1e6 / requests;
    state.counters["ratio_stamped"] = seconds[2] > 0 ? seconds[0] / seconds[2] : 0;
}

std::string BenchmarkName(Driver driver, const Request& request) {
    return std::string(DriverName(driver)) + "/" + request.name;
}

double Microseconds(const benchmark::BenchmarkReporter::Run& run) {
    const double value = run.GetAdjustedRealTime();
    switch (run.time_unit) {
        case benchmark::kNanosecond: return value / 1e3;
        case benchmark::kMicrosecond: return value;
        case benchmark::kMillisecond: return value * 1e3;
        case benchmark::kSecond: return value * 1e6;
    }
    return value;
}

double Median(std::vector<double> values) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Each repetition's figures of one benchmark.
struct Figures {
    std::vector<double> addinUs;
    std::vector<double> floorUs;
    std::vector<double> ratio;
    std::vector<double> stampedUs;
    std::vector<double> ratioStamped;
};

// Google Benchmark 1.8 (Debian 13) replaced a run's error_occurred with skipped.
template <typename RunType>
auto RunFailed(const RunType& run, int) -> decltype(static_cast<bool>(run.error_occurred)) {
    return run.error_occurred;
}
template <typename RunType>
bool RunFailed(const RunType& run, long) {
    return run.skipped != decltype(run.skipped){};
}

// The usual console output, and every repetition's figures kept for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal: the output is often kept in a file.
    SummaryReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (RunFailed(run, 0) || run.run_type != Run::RT_Iteration) continue;
            const auto counter = [&run](const char* name) {
                const auto found = run.counters.find(name);
                return found == run.counters.end() ? -1.0 : found->second.value;
            };
            if (counter("ratio") < 0) continue;
            Figures& figures = figures_[run.run_name.function_name];
            figures.addinUs.push_back(Microseconds(run));
            figures.floorUs.push_back(counter("floor_us"));
            figures.ratio.push_back(counter("ratio"));
            figures.stampedUs.push_back(counter("stamped_us"));
            figures.ratioStamped.push_back(counter("ratio_stamped"));
        }
        ConsoleReporter::ReportRuns(runs);
    }

    Figures Find(const std::string& name) const {
        const auto found = figures_.find(name);
        return found == figures_.end() ? Figures{} : found->second;
    }

private:
    std::map<std::string, Figures> figures_;
};

std::string Format(const char* format, double value) {
    if (value < 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// One line per request; scripts/bench.sh shows this table as it is.
void PrintSummary(const SummaryReporter& reporter) {
    std::printf("\n== Summary: CPU microseconds per request, median of the repetitions ==\n");
    std::printf("%-22s %7s %8s %8s %6s %5s %4s | %8s %6s %4s | %10s %6s | %9s %6s\n", "request", "entries", "floor",
                "add-in", "ratio", "goal", "met", "stamped", "ratio", "met", "TestDriver", "ratio", "Simulator",
                "ratio");
    for (const Request& request : kRequests) {
        const Figures bench = reporter.Find(BenchmarkName(Driver::Bench, request));
        const Figures test = reporter.Find(BenchmarkName(Driver::Test, request));
        const Figures simulator = reporter.Find(BenchmarkName(Driver::Simulator, request));
        const auto met = [&request](double ratio) { return ratio < 0 ? "-" : ratio <= request.goal ? "yes" : "NO"; };
        const double ratio = Median(bench.ratio);
        const double ratioStamped = Median(bench.ratioStamped);
        std::printf("%-22s %7zu %8s %8s %6s %5.2f %4s | %8s %6s %4s | %10s %6s | %9s %6s\n", request.text,
                    request.entries, Format("%.2f", Median(bench.floorUs)).c_str(),
                    Format("%.2f", Median(bench.addinUs)).c_str(), Format("%.3f", ratio).c_str(), request.goal,
                    met(ratio), Format("%.2f", Median(bench.stampedUs)).c_str(), Format("%.3f", ratioStamped).c_str(),
                    met(ratioStamped), Format("%.2f", Median(test.addinUs)).c_str(),
                    Format("%.3f", Median(test.ratio)).c_str(), Format("%.2f", Median(simulator.addinUs)).c_str(),
                    Format("%.3f", Median(simulator.ratio)).c_str());
    }
    std::printf(
        "add-in: with BenchDriver (answers from constants). floor: prebuilt lines; stamped: each line's time read and\n"
        "formatted with snprintf. TestDriver and Simulator ratios are against their own (strict) floors.\n");
    std::fflush(stdout);
}

void RegisterAll() {
    for (std::size_t i = 0; i < kRequests.size(); ++i) {
        for (const Driver driver : kDrivers) {
            // NOLINTNEXTLINE(readability-redundant-string-cstr): Google Benchmark 1.7 takes a C string
            benchmark::RegisterBenchmark(BenchmarkName(driver, kRequests[i]).c_str(), PairedRequest, driver, i)
                ->UseManualTime()
                ->Iterations(kBatchesPerRepetition)
                ->Unit(benchmark::kMicrosecond);
        }
    }
}

}  // namespace
}  // namespace nelko::bench

int main(int argc, char** argv) {
    using namespace nelko::bench;

    // Defaults first, so that the same flags given on the command line win.
    static char repetitions[] = "--benchmark_repetitions=5";
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> arguments{argv[0], repetitions, interleave};
    arguments.insert(arguments.end(), argv + 1, argv + argc);
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) return 2;

    Bench bench;
    std::string error;
    if (!bench.Start(error)) {
        std::fprintf(stderr, "nelko_request_bench: %s\n", error.c_str());
        bench.Stop();
        return 1;
    }
    theBench = &bench;
    std::printf("trace log and floor file in %s\n", bench.Folder().c_str());
    std::fflush(stdout);

    RegisterAll();
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary(reporter);
    benchmark::Shutdown();
    theBench = nullptr;
    bench.Stop();
    return 0;
}
