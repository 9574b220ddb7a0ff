// The add-in's trace log: one self-contained open/write/close per entry, emptied by the
// first entry of a process, appended to by every later one, renamed to NAME.1 and started
// anew when it has grown past 64 MiB.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Platform.h"

namespace nelko {

// Where a test sends log entries instead of a file (see LogTestSeam).
using LogSink = std::function<void(const char* data, std::size_t size)>;

// The stream of one log entry. Opening may fail; writing to a failed stream does nothing.
class LogStream {
public:
    explicit LogStream(platform::FileHandle file) : file_(file) {}
    explicit LogStream(const LogSink* sink) : file_(platform::kInvalidFile), sink_(sink) {}
    LogStream(const LogStream&) = delete;
    LogStream& operator=(const LogStream&) = delete;
    ~LogStream() { Close(); }

    bool IsOpen() const { return file_ != platform::kInvalidFile || sink_ != nullptr; }
    void Write(const char* data, std::size_t size) {
        if (sink_ != nullptr) {
            (*sink_)(data, size);
            return;
        }
        platform::WriteToFile(file_, data, size);
    }
    void Close() {
        platform::CloseFile(file_);
        file_ = platform::kInvalidFile;
        sink_ = nullptr;
    }

private:
    platform::FileHandle file_;
    const LogSink* sink_ = nullptr;
};

std::string GetLogFilePath();
LogStream OpenLogFile();
// Text without time stamp, ended with a line end.
void WriteLogRawLine(LogStream& stream, const std::string& text);
void CloseLogFile(LogStream& stream);

// Open, write one time-stamped line, close: what nearly every caller wants.
void Trace(const std::string& message);

// Formats the time-stamped line into `out` (exposed for its exact layout).
void FormatLogLine(const platform::LocalTime& time, const std::string& message, std::string& out);

// Where tests point the log instead of the temporary directory and wall clock, and the
// size past which it is renamed to NAME.1. An empty directory or clock, or a size of 0,
// restores the production behaviour. A sink takes the entries instead of any file: the
// fuzzing programs write millions of them, and a file's open, checks and close per entry
// would cost most of their time.
struct LogTestSeam {
    std::string directory;
    std::function<platform::LocalTime()> clock;
    std::uint64_t rotationSize = 0;
    LogSink sink{};
};
void SetLogTestSeam(LogTestSeam seam);
// Makes the next open truncate again, as the first entry of a new process does.
void ResetLogFirstOpenForTesting();

}  // namespace nelko
