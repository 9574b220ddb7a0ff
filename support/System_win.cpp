#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "Libraries.h"
#include "Processes.h"
#include "Terminal.h"

namespace nelko::support {

bool StandardInputIsTerminal() { return ::_isatty(::_fileno(stdin)) != 0; }
bool StandardOutputIsTerminal() { return ::_isatty(::_fileno(stdout)) != 0; }

// The Windows console edits a line and recalls earlier ones itself.
LineReader::LineReader(std::vector<std::string>) {}
LineReader::~LineReader() = default;

bool LineReader::Read(const std::string& prompt, std::string& line) {
    std::cout << prompt << std::flush;
    return static_cast<bool>(std::getline(std::cin, line));
}

const char* const kEndOfInputKeys = "Ctrl-Z, Enter";

void PrepareUnicodeOutput() { ::SetConsoleOutputCP(CP_UTF8); }

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

bool IsLibraryResident(const std::string& path) {
    char full[MAX_PATH];
    const DWORD length = ::GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length != 0 && length < MAX_PATH && ::GetModuleHandleA(full) != nullptr;
}

std::string DriverFileName(const std::string& baseName) { return baseName + ".dll"; }

std::string ExecutableDirectory() {
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    std::string text(path, length);
    const std::size_t separator = text.find_last_of("\\/");
    return separator == std::string::npos ? std::string{} : text.substr(0, separator);
}

void SetTemporaryDirectoryEnvironment(const std::string& directory) {
    // GetTempPathA reads TMP first, then TEMP; child processes inherit both.
    ::SetEnvironmentVariableA("TMP", directory.c_str());
    ::SetEnvironmentVariableA("TEMP", directory.c_str());
    ::_putenv_s("TMP", directory.c_str());
    ::_putenv_s("TEMP", directory.c_str());
}

int RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
    std::string commandLine = "\"" + program + "\"";
    for (const std::string& argument : arguments) commandLine += " \"" + argument + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        return 127;
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}

std::string ShellQuote(const std::string& text) { return "\"" + text + "\""; }

std::string ShellInFolder(const std::string& folder) { return "cd /d " + ShellQuote(folder) + " && "; }

std::optional<int> RunShellLine(const std::string& line, std::string& output) {
    // cmd /c drops the first and the last quote of a line that starts with one.
    FILE* pipe = ::_popen(("\"" + line + "\"").c_str(), "r");
    if (pipe == nullptr) return std::nullopt;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
    return ::_pclose(pipe);
}

std::string InFileLineEnds(const std::string& text) {
    std::string converted;
    for (char c : text) {
        if (c == '\n') converted += '\r';
        converted += c;
    }
    return converted;
}

}  // namespace nelko::support
