// Processes and files, for the tools and the tests.
// One implementation file per OS for all of support/: System_posix.cpp, System_win.cpp.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace nelko::support {

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
