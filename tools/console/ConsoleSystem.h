// What the console needs from the operating system beyond the project's platform layer.
// One implementation file per OS: ConsoleSystem_posix.cpp, ConsoleSystem_win.cpp.
#pragma once

#include <string>
#include <vector>

namespace nelko::console {

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

// Folder of the running program; empty when the OS does not tell.
std::string ExecutableDirectory();

// Why the most recent library load failed, as the OS puts it; call right after the failure.
std::string LastLibraryLoadError();

// Makes the terminal show UTF-8 output as such.
void PrepareUnicodeOutput();

}  // namespace nelko::console
