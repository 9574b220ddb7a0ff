#include <windows.h>

#include <cstdlib>

#include "TestSupport.h"

namespace nelko::test {

void SetTemporaryDirectoryEnvironment(const std::string& directory) {
    // GetTempPathA reads TMP first, then TEMP; child processes inherit both.
    SetEnvironmentVariableA("TMP", directory.c_str());
    SetEnvironmentVariableA("TEMP", directory.c_str());
    _putenv_s("TMP", directory.c_str());
    _putenv_s("TEMP", directory.c_str());
}

bool IsLibraryResident(const std::string& path) {
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length != 0 && length < MAX_PATH && GetModuleHandleA(full) != nullptr;
}

int RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
    std::string commandLine = "\"" + program + "\"";
    for (const std::string& argument : arguments) commandLine += " \"" + argument + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return 127;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}

std::string InFileLineEnds(const std::string& text) {
    std::string converted;
    for (char c : text) {
        if (c == '\n') converted += '\r';
        converted += c;
    }
    return converted;
}

std::string DriverFileName(const std::string& baseName) { return baseName + ".dll"; }

}  // namespace nelko::test
