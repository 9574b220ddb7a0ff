// The terminal, for the console tools: whether one is there, and typed lines with editing.
// One implementation file per OS for all of support/: System_posix.cpp, System_win.cpp.
#pragma once

#include <string>
#include <vector>

namespace nelko::support {

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

}  // namespace nelko::support
