// What the tools and the tests need from the operating system beyond the product's own
// platform layer. One implementation file per OS: System_posix.cpp, System_win.cpp.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace nelko::support {

// ---- Terminal -------------------------------------------------------------------

bool StandardInputIsTerminal();
bool StandardOutputIsTerminal();

// Reads typed lines, with line editing, history and completion of the given words at the
// start of a line where the OS offers them. One instance at a time.
class LineReader {
public:
    explicit LineReader(std::vector<std::string> completions);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // False at the end of input.
    bool Read(const std::string& prompt, std::string& line);
};

// How the user ends typed input, for the greeting ("Ctrl-D").
extern const char* const kEndOfInputKeys;

// Makes the terminal show UTF-8 output as such.
void PrepareUnicodeOutput();

// ---- Libraries ------------------------------------------------------------------

// Why the most recent library load failed, as the OS puts it; call right after the failure.
std::string LastLibraryLoadError();
// Whether the library at this path is mapped into the process right now.
bool IsLibraryResident(const std::string& path);
// File name of a driver library with this base name.
std::string DriverFileName(const std::string& baseName);

// ---- Processes and files ----------------------------------------------------------

// Folder of the running program; empty when the OS does not tell.
std::string ExecutableDirectory();
// Points the temporary directory of this process and of the programs it starts there.
void SetTemporaryDirectoryEnvironment(const std::string& directory);
// Runs a program and returns its exit code.
int RunProgram(const std::string& program, const std::vector<std::string>& arguments);
// The text as the system's shell reads it as one word.
std::string ShellQuote(const std::string& text);
// Shell text that makes the rest of the line run in this folder.
std::string ShellInFolder(const std::string& folder);
// Runs a line through the system's shell and collects what it writes to standard output.
// Its exit code, or nothing when the shell cannot be started.
std::optional<int> RunShellLine(const std::string& line, std::string& output);
// The text with each line feed as a text file written by the product holds it (CR LF on
// Windows).
std::string InFileLineEnds(const std::string& text);

}  // namespace nelko::support
