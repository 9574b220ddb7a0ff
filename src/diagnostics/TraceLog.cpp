#include "diagnostics/TraceLog.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <mutex>
#include <string_view>
#include <utility>

namespace nelko {
namespace {

const char kLogFileName[] = "NelkoClientDriver.log";

// Past this size the log is renamed to NAME.1 and started anew: every channel message is
// traced in full, so a server could otherwise fill the (perhaps memory-backed) temporary
// directory. A normal session stays far below it.
constexpr std::uint64_t kRotationSize = std::uint64_t{64} << 20;

// True until the first open of this load of the library, whether or not that open
// succeeds: a failed first open must not make a later one wipe the file of an earlier
// process. Whether it empties the log is the platform's to say (a library loaded anew in
// the same process keeps the log). Set back only
// under firstOpenMutex, which that first open holds, so that it happens exactly once and
// no other thread's entry goes into the file before it is emptied.
std::atomic<bool> firstOpen{true};
std::mutex firstOpenMutex;

LogTestSeam& TestSeam() {
    static LogTestSeam seam;
    return seam;
}

// "DD.MM.YYYY - HH:MM:SS  ": each field zero-padded to its width; a wider value keeps all
// its digits. Written into `out`, which has room for kMaxStampLength characters; returns
// the stamp's length.
constexpr std::size_t kMaxStampLength = 6 * 11 + 9;

char* PutField(char* out, int value, int width, std::string_view after) {
    char digits[11];
    char* const end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    for (auto length = end - digits; length < width; ++length) *out++ = '0';
    out = std::copy(digits, end, out);
    return out + after.copy(out, after.size());
}

std::size_t FormatStamp(char* out, const platform::LocalTime& time) {
    char* end = PutField(out, time.day, 2, ".");
    end = PutField(end, time.month, 2, ".");
    end = PutField(end, time.year, 4, " - ");
    end = PutField(end, time.hour, 2, ":");
    end = PutField(end, time.minute, 2, ":");
    end = PutField(end, time.second, 2, "  ");
    return static_cast<std::size_t>(end - out);
}

std::string LogDirectory(const LogTestSeam& seam) {
    return seam.directory.empty() ? platform::TemporaryDirectory() : seam.directory;
}

std::string PathInDirectory(const std::string& directory) {
    return directory + platform::kLogPathSeparator + kLogFileName;
}

platform::FileHandle OpenRotated(const std::string& path, std::uint64_t size, std::uint64_t limit) {
    // The rename may fail for a moment (on Windows while another program has the log open)
    // or for good (another user's NAME.1 in a shared /tmp). Entries are kept up to twice
    // the limit, then dropped: the log must not grow without bound either way.
    if (!platform::RotateLogFile(path, path + ".1", limit) && size / 2 >= limit) return platform::kInvalidFile;
    return platform::OpenLogFileForWriting(path, false).file;
}

LogStream OpenPath(const std::string& path, const LogTestSeam& seam) {
    bool opensFirst = false;
    platform::OpenedLogFile opened{platform::kInvalidFile, 0};
    if (firstOpen.load(std::memory_order_acquire)) {
        const std::lock_guard<std::mutex> lock(firstOpenMutex);
        opensFirst = firstOpen.load(std::memory_order_relaxed);
        if (opensFirst) {
            opened = platform::OpenLogFileForWriting(path, platform::ClaimFirstLogEntryOfProcess());
            firstOpen.store(false, std::memory_order_release);
        }
    }
    if (!opensFirst) opened = platform::OpenLogFileForWriting(path, false);
    const std::uint64_t limit = seam.rotationSize != 0 ? seam.rotationSize : kRotationSize;
    if (opened.file == platform::kInvalidFile || opened.size < limit) return LogStream(opened.file);
    platform::CloseFile(opened.file);
    return LogStream(OpenRotated(path, opened.size, limit));
}

LogStream OpenWithSeam(const LogTestSeam& seam) {
    if (seam.sink) return LogStream(&seam.sink);
    return OpenPath(PathInDirectory(LogDirectory(seam)), seam);
}

void WriteWithSeam(LogStream& stream, const LogTestSeam& seam, const std::string& message) {
    std::string line;
    FormatLogLine(seam.clock ? seam.clock() : platform::CurrentLocalTime(), message, line);
    stream.Write(line.data(), line.size());
}

}  // namespace

std::string GetLogFilePath() { return PathInDirectory(LogDirectory(TestSeam())); }

LogStream OpenLogFile() { return OpenWithSeam(TestSeam()); }

void FormatLogLine(const platform::LocalTime& time, const std::string& message, std::string& out) {
    char stamp[kMaxStampLength];
    out.assign(stamp, FormatStamp(stamp, time));
    out.append(message).push_back('\n');
}

// One write, as for every other entry: another process's entry must not land between the
// text and its line end.
void WriteLogRawLine(LogStream& stream, const std::string& text) {
    if (!stream.IsOpen()) return;
    const std::string line = text + '\n';
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

void ResetLogFirstOpenForTesting() {
    platform::ForgetFirstLogEntryOfProcess();
    firstOpen.store(true);
}

}  // namespace nelko
