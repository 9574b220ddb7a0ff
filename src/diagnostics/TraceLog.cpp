#include "diagnostics/TraceLog.h"

#include <charconv>
#include <utility>

namespace nelko {
namespace {

const char kLogFileName[] = "NelkoClientDriver.log";

// True until the first open of the process, whether or not that open succeeds: a failed
// first open must not make a later one wipe the file of an earlier process.
bool firstOpen = true;

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

}  // namespace

std::string GetLogFilePath() {
    const LogTestSeam& seam = TestSeam();
    std::string path = seam.directory.empty() ? platform::TemporaryDirectory() : seam.directory;
    path += platform::kLogPathSeparator;
    path += kLogFileName;
    return path;
}

LogStream OpenLogFile() {
    const bool truncate = firstOpen;
    firstOpen = false;
    return LogStream(platform::OpenLogFileForWriting(GetLogFilePath(), truncate));
}

void FormatLogLine(const platform::LocalTime& time, const std::string& message, std::string& out) {
    out.clear();
    out.reserve(24 + message.size());
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

void WriteLogLine(LogStream& stream, const std::string& message) {
    if (!stream.IsOpen()) return;
    const LogTestSeam& seam = TestSeam();
    const platform::LocalTime now = seam.clock ? seam.clock() : platform::CurrentLocalTime();
    std::string line;
    FormatLogLine(now, message, line);
    stream.Write(line.data(), line.size());
}

void WriteLogRawLine(LogStream& stream, const std::string& text) {
    stream.Write(text.data(), text.size());
    stream.Write("\n", 1);
}

void CloseLogFile(LogStream& stream) { stream.Close(); }

void Trace(const std::string& message) {
    LogStream stream = OpenLogFile();
    WriteLogLine(stream, message);
    CloseLogFile(stream);
}

void SetLogTestSeam(LogTestSeam seam) { TestSeam() = std::move(seam); }

void ResetLogFirstOpenForTesting() { firstOpen = true; }

}  // namespace nelko
