#include <dlfcn.h>
#include <editline/readline.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "ConsoleSystem.h"

namespace nelko::console {
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

}  // namespace

const char* const kEndOfInputKeys = "Ctrl-D";

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

std::string ExecutableDirectory() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return {};
    std::string text(path, static_cast<std::size_t>(length));
    const std::size_t slash = text.rfind('/');
    return slash == std::string::npos ? std::string{} : text.substr(0, slash);
}

std::string LastLibraryLoadError() {
    const char* text = ::dlerror();
    return text != nullptr ? text : "";
}

void PrepareUnicodeOutput() {}

}  // namespace nelko::console
