#include "diagnostics/TraceLog.h"

#include <atomic>
#include <charconv>
#include <mutex>
#include <utility>

namespace nelko {
namespace {

const char kLogFileName[] = "NelkoClientDriver.log";

// Past this size the log is renamed to NAME.1 and started anew: every channel message is
// traced in full, so a server could otherwise fill the (perhaps memory-backed) temporary
// directory. A normal session stays far below it.
constexpr std::uint64_t kRotationSize = std::uint64_t{64} << 20;

// True until the first open of the process, whether or not that open succeeds: a failed
// first open must not make a later one wipe the file of an earlier process. Set back only
// under firstOpenMutex, which that first open holds, so that it happens exactly once and
// no other thread's entry goes into the file before it is emptied.
std::atomic<bool> firstOpen{true};
std::mutex firstOpenMutex;

LogTestSeam& TestSeam() {
    static LogTestSeam seam;
    return seam;
}

void AppendPadded(std::string& out, int value, int width) {
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    for (auto length = result.ptr - digits; length < width; ++length) out.push_back('0');
    out.append(digits, result.ptr);
}

// "DD.MM.YYYY - HH:MM:SS  ": every entry pays for its time stamp, so the usual case is
// written digit pair by digit pair instead of through AppendPadded.
constexpr std::size_t kStampLength = 23;

bool HasPlainStamp(const platform::LocalTime& time) {
    const auto twoDigits = [](int value) { return value >= 0 && value <= 99; };
    return time.year >= 0 && time.year <= 9999 && twoDigits(time.month) && twoDigits(time.day) &&
           twoDigits(time.hour) && twoDigits(time.minute) && twoDigits(time.second);
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

void PutTwoDigits(char* out, int value) {
    const char* const pair = &kDigitPairs[static_cast<std::size_t>(value) * 2];
    out[0] = pair[0];
    out[1] = pair[1];
}

// Only for a time with HasPlainStamp; gives what AppendPadded would.
void PutStamp(char* out, const platform::LocalTime& time) {
    PutTwoDigits(out, time.day);
    out[2] = '.';
    PutTwoDigits(out + 3, time.month);
    out[5] = '.';
    PutTwoDigits(out + 6, time.year / 100);
    PutTwoDigits(out + 8, time.year % 100);
    out[10] = ' ';
    out[11] = '-';
    out[12] = ' ';
    PutTwoDigits(out + 13, time.hour);
    out[15] = ':';
    PutTwoDigits(out + 16, time.minute);
    out[18] = ':';
    PutTwoDigits(out + 19, time.second);
    out[21] = ' ';
    out[22] = ' ';
}

std::string LogDirectory(const LogTestSeam& seam) {
    return seam.directory.empty() ? platform::TemporaryDirectory() : seam.directory;
}

std::string PathInDirectory(const std::string& directory) {
    std::string path = directory;
    path += platform::kLogPathSeparator;
    path += kLogFileName;
    return path;
}

platform::FileHandle OpenRotated(const std::string& path, std::uint64_t size, std::uint64_t limit) {
    // The rename may fail for a moment (on Windows while another program has the log open)
    // or for good (another user's NAME.1 in a shared /tmp). Entries are kept up to twice
    // the limit, then dropped: the log must not grow without bound either way.
    if (!platform::RotateLogFile(path, path + ".1", limit) && size / 2 >= limit) return platform::kInvalidFile;
    return platform::OpenLogFileForWriting(path, false).file;
}

LogStream OpenPath(const std::string& path, const LogTestSeam& seam) {
    bool truncate = false;
    platform::OpenedLogFile opened{platform::kInvalidFile, 0};
    if (firstOpen.load(std::memory_order_acquire)) {
        const std::lock_guard<std::mutex> lock(firstOpenMutex);
        truncate = firstOpen.load(std::memory_order_relaxed);
        if (truncate) {
            opened = platform::OpenLogFileForWriting(path, true);
            firstOpen.store(false, std::memory_order_release);
        }
    }
    if (!truncate) opened = platform::OpenLogFileForWriting(path, false);
    const std::uint64_t limit = seam.rotationSize != 0 ? seam.rotationSize : kRotationSize;
    if (opened.file == platform::kInvalidFile || opened.size < limit) return LogStream(opened.file);
    platform::CloseFile(opened.file);
    return LogStream(OpenRotated(path, opened.size, limit));
}

// Taken by the thread that uses the cached log path; a thread that finds it taken builds
// its own path instead of waiting.
std::atomic_flag logPathBusy = ATOMIC_FLAG_INIT;

// The directory is asked for at every entry, as it may change, but the path is put together
// again only when it did. Function-local, hence built at the first entry of the process
// (inside the construction of the add-in's first static object) and destroyed after the
// last one.
LogStream OpenWithSeam(const LogTestSeam& seam) {
    if (seam.sink) return LogStream(&seam.sink);
    static std::string pathDirectory;
    static std::string path;
    std::string directory = LogDirectory(seam);
    if (logPathBusy.test_and_set(std::memory_order_acquire)) return OpenPath(PathInDirectory(directory), seam);
    struct Release {
        ~Release() { logPathBusy.clear(std::memory_order_release); }
    } release;
    if (path.empty() || directory != pathDirectory) {
        path = PathInDirectory(directory);
        pathDirectory = std::move(directory);
    }
    return OpenPath(path, seam);
}

void WriteWithSeam(LogStream& stream, const LogTestSeam& seam, const std::string& message) {
    const platform::LocalTime now = seam.clock ? seam.clock() : platform::CurrentLocalTime();
    // Nearly every line fits on the stack: no allocation, and still one write per entry.
    char shortLine[512];
    if (message.size() < sizeof shortLine - kStampLength && HasPlainStamp(now)) {
        PutStamp(shortLine, now);
        message.copy(shortLine + kStampLength, message.size());
        shortLine[kStampLength + message.size()] = '\n';
        stream.Write(shortLine, kStampLength + message.size() + 1);
        return;
    }
    std::string line;
    FormatLogLine(now, message, line);
    stream.Write(line.data(), line.size());
}

}  // namespace

std::string GetLogFilePath() { return PathInDirectory(LogDirectory(TestSeam())); }

LogStream OpenLogFile() { return OpenWithSeam(TestSeam()); }

void FormatLogLine(const platform::LocalTime& time, const std::string& message, std::string& out) {
    out.clear();
    out.reserve(kStampLength + message.size() + 1);
    if (HasPlainStamp(time)) {
        out.resize(kStampLength);
        PutStamp(&out[0], time);
        out.append(message);
        out.push_back('\n');
        return;
    }
    AppendPadded(out, time.day, 2);
    out.push_back('.');
    AppendPadded(out, time.month, 2);
    out.push_back('.');
    AppendPadded(out, time.year, 4);
    out.append(" - ");
    AppendPadded(out, time.hour, 2);
    out.push_back(':');
    AppendPadded(out, time.minute, 2);
    out.push_back(':');
    AppendPadded(out, time.second, 2);
    out.append("  ");
    out.append(message);
    out.push_back('\n');
}

// One write, as for every other entry: another process's entry must not land between the
// text and its line end.
void WriteLogRawLine(LogStream& stream, const std::string& text) {
    if (!stream.IsOpen()) return;
    std::string line;
    line.reserve(text.size() + 1);
    line.append(text).push_back('\n');
    stream.Write(line.data(), line.size());
}

void CloseLogFile(LogStream& stream) { stream.Close(); }

void Trace(const std::string& message) {
    const LogTestSeam& seam = TestSeam();
    LogStream stream = OpenWithSeam(seam);
    if (stream.IsOpen()) WriteWithSeam(stream, seam, message);
    CloseLogFile(stream);
}

void SetLogTestSeam(LogTestSeam seam) { TestSeam() = std::move(seam); }

void ResetLogFirstOpenForTesting() { firstOpen.store(true); }

}  // namespace nelko
