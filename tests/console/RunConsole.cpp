#include "RunConsole.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>

#include "Processes.h"

namespace fs = std::filesystem;

namespace nelko::test {
namespace {

using support::ShellQuote;

std::string ReadTextFile(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace

std::string TemporaryFile(const std::string& name) {
    // ctest may run several of these test processes at once in the same folder.
    static const std::string prefix = "console-" + std::to_string(std::random_device{}()) + "-";
    return (fs::temp_directory_path() / (prefix + name)).string();
}

void WriteTextFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    if (!file) throw std::runtime_error("cannot write " + path);
}

ConsoleRun RunConsole(const std::vector<std::string>& arguments, const std::string& input,
                      const std::string& workingDirectory) {
    const std::string inputFile = TemporaryFile("stdin.txt");
    const std::string errorFile = TemporaryFile("stderr.txt");
    WriteTextFile(inputFile, input);

    std::string line = workingDirectory.empty() ? "" : support::ShellInFolder(workingDirectory);
    line += ShellQuote(fs::absolute(NELKO_CONSOLE_FILE_NAME).string());
    for (const std::string& argument : arguments) line += " " + ShellQuote(argument);
    line += " < " + ShellQuote(inputFile) + " 2> " + ShellQuote(errorFile);

    ConsoleRun run;
    const std::optional<int> exitCode = support::RunShellLine(line, run.out);
    if (!exitCode) throw std::runtime_error("cannot start " + line);
    run.exitCode = *exitCode;
    run.err = ReadTextFile(errorFile);
    fs::remove(inputFile);
    fs::remove(errorFile);
    return run;
}

}  // namespace nelko::test
