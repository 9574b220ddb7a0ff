// Starting the built nelko-console as a user does, and collecting what it did.
#pragma once

#include <string>
#include <vector>

namespace nelko::test {

struct ConsoleRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs nelko-console (from the output folder, the tests' working directory) with these
// arguments and this text on standard input, in `workingDirectory` when one is given.
ConsoleRun RunConsole(const std::vector<std::string>& arguments, const std::string& input = "",
                      const std::string& workingDirectory = "");

// A file name in the tests' temporary folder, unique to this run.
std::string TemporaryFile(const std::string& name);
void WriteTextFile(const std::string& path, const std::string& text);

}  // namespace nelko::test
