#include "RunConsole.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#if defined(_WIN32)
#define popen _popen
#define pclose _pclose
#else
#include <sys/wait.h>
#endif

namespace fs = std::filesystem;

namespace nelko::test {
namespace {

#if defined(_WIN32)
std::string Quote(const std::string& text) { return "\"" + text + "\""; }
// cmd /c drops the first and the last quote of a line that starts with one.
std::string ShellLine(const std::string& line) { return "\"" + line + "\""; }
std::string ChangeDirectory(const std::string& dir) { return "cd /d " + Quote(dir) + " && "; }
int ExitCode(int status) { return status; }
#else
std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
std::string ShellLine(const std::string& line) { return line; }
std::string ChangeDirectory(const std::string& dir) { return "cd " + Quote(dir) + " && "; }
int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }
#endif

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

    std::string line = workingDirectory.empty() ? "" : ChangeDirectory(workingDirectory);
    line += Quote(fs::absolute(NELKO_CONSOLE_FILE_NAME).string());
    for (const std::string& argument : arguments) line += " " + Quote(argument);
    line += " < " + Quote(inputFile) + " 2> " + Quote(errorFile);

    ConsoleRun run;
    FILE* pipe = ::popen(ShellLine(line).c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("cannot start " + line);
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) run.out.append(chunk, n);
    run.exitCode = ExitCode(::pclose(pipe));
    run.err = ReadTextFile(errorFile);
    fs::remove(inputFile);
    fs::remove(errorFile);
    return run;
}

}  // namespace nelko::test
