#include <io.h>
#include <windows.h>

#include <cstdio>
#include <iostream>

#include "ConsoleSystem.h"

namespace nelko::console {

const char* const kEndOfInputKeys = "Ctrl-Z, Enter";

bool StandardInputIsTerminal() { return ::_isatty(::_fileno(stdin)) != 0; }
bool StandardOutputIsTerminal() { return ::_isatty(::_fileno(stdout)) != 0; }

// The Windows console edits a line and recalls earlier ones itself.
LineReader::LineReader(std::vector<std::string>) {}
LineReader::~LineReader() = default;

bool LineReader::Read(const std::string& prompt, std::string& line) {
    std::cout << prompt << std::flush;
    return static_cast<bool>(std::getline(std::cin, line));
}

std::string ExecutableDirectory() {
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    std::string text(path, length);
    const std::size_t separator = text.find_last_of("\\/");
    return separator == std::string::npos ? std::string{} : text.substr(0, separator);
}

std::string LastLibraryLoadError() {
    const DWORD code = ::GetLastError();
    char* message = nullptr;
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, code, 0, reinterpret_cast<char*>(&message), 0, nullptr);
    std::string text = "error " + std::to_string(code);
    if (length > 0 && message != nullptr) {
        std::string description(message, length);
        while (!description.empty() && (description.back() == '\n' || description.back() == '\r'))
            description.pop_back();
        text += " (" + description + ")";
    }
    if (message != nullptr) ::LocalFree(message);
    return text;
}

void PrepareUnicodeOutput() { ::SetConsoleOutputCP(CP_UTF8); }

}  // namespace nelko::console
