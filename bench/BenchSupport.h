// Shared by the benchmark programs: the add-in loaded at run time exactly as a caller loads
// it, its trace log kept in a private folder, drivers set up through ordinary requests, and
// the process's resident set size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "AddinLibrary.h"

namespace nelko::bench {

using support::AddinLibrary;

// Answers of this size cover every request the benchmarks send; a larger one would show up
// as length 0, which the callers treat as a failure.
inline constexpr std::uint32_t kResponseBufferSize = 4096;

// A fresh folder below $TMPDIR (or /tmp), made the process's TMPDIR so the add-in's log and
// any comparison file live in one directory of one file system. Removed with its files on
// destruction.
class PrivateLogFolder {
public:
    PrivateLogFolder();
    ~PrivateLogFolder();
    PrivateLogFolder(const PrivateLogFolder&) = delete;
    PrivateLogFolder& operator=(const PrivateLogFolder&) = delete;

    bool Ok() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    std::string LogPath() const { return File("NelkoClientDriver.log"); }

private:
    std::string path_;
};

// The add-in from the working directory; null, with `error` saying why, when it cannot be
// used.
std::unique_ptr<AddinLibrary> LoadAddin(std::string& error);

// "Init|BenchDriver|": the driver that answers from constants and records nothing.
bool UseBenchDriver(const AddinLibrary& addin, std::string& error);
// The answer to "GetSpectralDataAll|0|" worked out independently of the add-in: the loaded
// driver's 31 values, each as std::to_chars writes it with 6 significant digits.
std::string ExpectedSpectralDataAll(const char* driverName);

// "Init|TestDriver|", then the driver's float answer, so that value requests format
// realistic numbers rather than zeros.
bool UseTestDriver(const AddinLibrary& addin, float floatAnswer, std::string& error);
// The test driver appends every call to an in-memory record; clearing it keeps a long run
// from measuring the driver's growing string instead of the add-in. Keeps the float answer.
void ClearTestDriverRecord(float floatAnswer);

// "Init|NelkoSimulator|", connected, fully calibrated and with one measurement taken.
bool UseSimulator(const AddinLibrary& addin, std::string& error);

// Empties a file without replacing it, so the next append finds the same inode.
void EmptyFile(const std::string& path);
// Lines with their line ends kept.
std::vector<std::string> SplitLines(const std::string& text);

// Resident set size of this process now, and its peak so far, in bytes (0 if unknown).
std::size_t ResidentBytes();
std::size_t PeakResidentBytes();

}  // namespace nelko::bench
