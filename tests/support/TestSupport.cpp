#include "TestSupport.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "platform/Platform.h"

namespace nelko::test {
namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    const fs::path base = fs::current_path() / "test-tmp";
    fs::create_directories(base);
    // Test processes run side by side in one folder: a name another process holds, or is
    // removing at this moment, is simply passed over.
    for (int attempt = 0; attempt < 10000; ++attempt) {
        const fs::path candidate =
            base / ("t" + std::to_string(platform::CurrentLocalTime().second) + "-" + std::to_string(counter++));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate.string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder in " + base.string());
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string TempDir::File(const std::string& name) const { return (fs::path(path_) / name).string(); }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

bool FileExists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

void RemoveFile(const std::string& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

std::vector<std::string> LogMessages(const std::string& logText) {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < logText.size()) {
        auto end = logText.find('\n', start);
        if (end == std::string::npos) end = logText.size();
        std::string line = logText.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const bool stamped = line.size() >= 23 && line[2] == '.' && line[5] == '.' && line.compare(10, 3, " - ") == 0 &&
                             line.compare(21, 2, "  ") == 0;
        lines.push_back(stamped ? line.substr(23) : line);
        start = end + 1;
    }
    return lines;
}

bool ContainsInOrder(const std::vector<std::string>& actual, const std::vector<std::string>& expected) {
    auto position = actual.begin();
    for (const std::string& line : expected) {
        while (position != actual.end() && *position != line) ++position;
        if (position == actual.end()) return false;
        ++position;
    }
    return true;
}

std::string Printable(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\0': out += "\\0"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            default: out += c;
        }
    }
    return out.empty() ? "(empty)" : out;
}

TestDriverControl TestDriverControl::Attach(const std::string& baseName) {
    TestDriverControl control{};
    const std::string path = platform::DriverLibraryPath(baseName);
    if (!IsLibraryResident(path)) return control;
    // A second reference for the lookup only; the code under test keeps the library loaded.
    platform::LibraryHandle library = platform::OpenLibrary(path);
    control.Reset = reinterpret_cast<void (*)()>(platform::FindExport(library, "TestDriver_Reset"));
    control.SetBool = reinterpret_cast<void (*)(int)>(platform::FindExport(library, "TestDriver_SetBool"));
    control.SetInt = reinterpret_cast<void (*)(int)>(platform::FindExport(library, "TestDriver_SetInt"));
    control.SetFloat = reinterpret_cast<void (*)(float)>(platform::FindExport(library, "TestDriver_SetFloat"));
    control.SetText = reinterpret_cast<void (*)(const char*)>(platform::FindExport(library, "TestDriver_SetText"));
    control.SetThrow = reinterpret_cast<void (*)(int)>(platform::FindExport(library, "TestDriver_SetThrow"));
    control.SetDuringMeasure =
        reinterpret_cast<void (*)(void (*)())>(platform::FindExport(library, "TestDriver_SetDuringMeasure"));
    control.Calls = reinterpret_cast<const char* (*)()>(platform::FindExport(library, "TestDriver_Calls"));
    platform::CloseLibrary(library);
    return control;
}

}  // namespace nelko::test
