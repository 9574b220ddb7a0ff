// Shared helpers of the test suites: temporary folders, reading the trace log back,
// and reaching the test driver's control functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Libraries.h"
#include "Processes.h"

namespace nelko::test {

// The operating system beyond the product's layer, and the add-in loader, are the tools'.
using namespace support;

// A fresh, empty folder below the working directory, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const;

private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
void RemoveFile(const std::string& path);

// The log's lines with the "DD.MM.YYYY - HH:MM:SS  " prefix taken off where present.
// Split at line feeds only, so NUL characters stay inside their line.
std::vector<std::string> LogMessages(const std::string& logText);
// True when every line of `expected` occurs in `actual`, in that order.
bool ContainsInOrder(const std::vector<std::string>& actual, const std::vector<std::string>& expected);

// The text with NUL, tab, CR and LF spelled as escapes, for test names and messages.
std::string Printable(const std::string& text);

// The test driver's control exports, reached while the code under test holds it loaded.
struct TestDriverControl {
    void (*Reset)();
    void (*SetBool)(int);
    void (*SetInt)(int);
    void (*SetFloat)(float);
    void (*SetText)(const char*);
    void (*SetThrow)(int);                 // Measure throws this int (0: it does not)
    void (*SetDuringMeasure)(void (*)());  // Measure calls this (null: nothing)
    const char* (*Calls)();

    // Null members when the test driver is not loaded.
    static TestDriverControl Attach(const std::string& baseName = "TestDriver");
};

}  // namespace nelko::test
