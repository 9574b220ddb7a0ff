#include <dlfcn.h>
#include <editline/readline.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "Libraries.h"
#include "Processes.h"
#include "Terminal.h"

namespace nelko::support {
namespace {

// Readline's completion hooks are plain functions, so the words live here.
std::vector<std::string> completionWords;
std::string lastRemembered;

char* NextCompletion(const char* text, int state) {
    static std::size_t next = 0;
    if (state == 0) next = 0;
    const std::size_t length = std::strlen(text);
    while (next < completionWords.size()) {
        const std::string& word = completionWords[next++];
        if (word.compare(0, length, text) == 0) return ::strdup(word.c_str());
    }
    return nullptr;
}

char** CompleteLine(const char* text, int start, int) {
    // Only the command name is completed; file names make no sense inside a request.
    rl_attempted_completion_over = 1;
    if (start != 0) return nullptr;
    return rl_completion_matches(text, NextCompletion);
}

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

}  // namespace

bool StandardInputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }
bool StandardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

LineReader::LineReader(std::vector<std::string> completions) {
    completionWords = std::move(completions);
    rl_readline_name = "nelko-console";
    rl_attempted_completion_function = CompleteLine;
    rl_completion_append_character = '|';
    using_history();
}

LineReader::~LineReader() {
    clear_history();
    completionWords.clear();
    lastRemembered.clear();
}

bool LineReader::Read(const std::string& prompt, std::string& line) {
    char* typed = ::readline(prompt.c_str());
    if (typed == nullptr) return false;
    line = typed;
    std::free(typed);
    // Repeating a request (IsDataReady while waiting) should cost one history entry.
    if (line.find_first_not_of(" \t") != std::string::npos && line != lastRemembered) {
        add_history(line.c_str());
        lastRemembered = line;
    }
    return true;
}

const char* const kEndOfInputKeys = "Ctrl-D";

void PrepareUnicodeOutput() {}

std::string LastLibraryLoadError() {
    const char* text = ::dlerror();
    return text != nullptr ? text : "";
}

bool IsLibraryResident(const std::string& path) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    ::dlclose(handle);
    return true;
}

std::string DriverFileName(const std::string& baseName) { return baseName + ".so"; }

std::string ExecutableDirectory() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return {};
    std::string text(path, static_cast<std::size_t>(length));
    const std::size_t slash = text.rfind('/');
    return slash == std::string::npos ? std::string{} : text.substr(0, slash);
}

void SetTemporaryDirectoryEnvironment(const std::string& directory) { ::setenv("TMPDIR", directory.c_str(), 1); }

int RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return ExitCode(status);
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string ShellInFolder(const std::string& folder) { return "cd " + ShellQuote(folder) + " && "; }

std::optional<int> RunShellLine(const std::string& line, std::string& output) {
    FILE* pipe = ::popen(line.c_str(), "r");
    if (pipe == nullptr) return std::nullopt;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
    return ExitCode(::pclose(pipe));
}

std::string InFileLineEnds(const std::string& text) { return text; }

}  // namespace nelko::support
