#include "BenchSupport.h"

#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace nelko::bench {

PrivateLogFolder::PrivateLogFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = (base != nullptr && *base != '\0') ? base : "/tmp";
    pattern += "/nb.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return;
    path_ = pattern;
    ::setenv("TMPDIR", path_.c_str(), 1);
}

PrivateLogFolder::~PrivateLogFolder() {
    if (path_.empty()) return;
    if (DIR* dir = ::opendir(path_.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") ::unlink(File(name).c_str());
        }
        ::closedir(dir);
    }
    ::rmdir(path_.c_str());
}

bool Addin::Load(std::string& error) {
    if (library_.Load()) return true;
    const char* reason = ::dlerror();
    error = "cannot load " + test::AddinLibraryPath() + " (" + (reason != nullptr ? reason : "exports missing") +
            "); run from the build's bin folder";
    return false;
}

void Addin::Unload() { library_.Unload(); }

std::string Addin::Execute(const char* request) {
    std::string buffer(kResponseBufferSize, '\0');
    buffer.resize(ExecuteInto(request, buffer.data(), kResponseBufferSize));
    return buffer;
}

namespace {

bool Expect(Addin& addin, const char* request, const std::string& expected, std::string& error) {
    const std::string response = addin.Execute(request);
    if (response == expected) return true;
    error = std::string("\"") + request + "\" answered \"" + response + "\", expected \"" + expected + "\"";
    return false;
}

template <typename Function>
Function TestDriverExport(void* library, const char* name) {
    return reinterpret_cast<Function>(::dlsym(library, name));
}

// The copy the add-in loaded, not a second one: dlopen of the same path only counts up.
bool WithLoadedTestDriver(float floatAnswer, bool reset) {
    void* const library = ::dlopen("./TestDriver.so", RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) return false;
    const auto resetDriver = TestDriverExport<void (*)()>(library, "TestDriver_Reset");
    const auto setFloat = TestDriverExport<void (*)(float)>(library, "TestDriver_SetFloat");
    const bool found = resetDriver != nullptr && setFloat != nullptr;
    if (found) {
        if (reset) resetDriver();
        setFloat(floatAnswer);
    }
    ::dlclose(library);
    return found;
}

}  // namespace

bool UseBenchDriver(Addin& addin, std::string& error) { return Expect(addin, "Init|BenchDriver|", "OK", error); }

std::string ExpectedSpectralDataAll(const char* driverName) {
    const std::string path = std::string("./") + driverName + ".so";
    void* const library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) return "(" + path + " is not loaded)";
    using SpectralDataFn = float (*)(int, int);
    const auto spectralData = reinterpret_cast<SpectralDataFn>(::dlsym(library, "GetSpectralData"));
    std::string answer = "OK|";
    for (int wavelength = 0; spectralData != nullptr && wavelength < 31; ++wavelength) {
        if (wavelength > 0) answer += ';';
        char digits[64];
        const auto result =
            std::to_chars(digits, digits + sizeof digits, static_cast<double>(spectralData(0, wavelength)),
                          std::chars_format::general, 6);
        answer.append(digits, result.ptr);
    }
    ::dlclose(library);
    return answer;
}

bool UseTestDriver(Addin& addin, float floatAnswer, std::string& error) {
    if (!Expect(addin, "Init|TestDriver|", "OK", error)) return false;
    if (WithLoadedTestDriver(floatAnswer, true)) return true;
    error = "TestDriver.so is loaded but its control exports were not found";
    return false;
}

void ClearTestDriverRecord(float floatAnswer) { WithLoadedTestDriver(floatAnswer, true); }

bool UseSimulator(Addin& addin, std::string& error) {
    return Expect(addin, "Init|NelkoSimulator|", "OK", error) && Expect(addin, "Connect|", "OK|true", error) &&
           Expect(addin, "Calibrate|", "OK|true", error) &&
           Expect(addin, "GetCalSteps|", "OK|Black;White;Green", error) &&
           Expect(addin, "CalibrateStep|Black|", "OK|true", error) &&
           Expect(addin, "CalibrateStep|White|", "OK|true", error) &&
           Expect(addin, "CalibrateStep|Green|", "OK|true", error) && Expect(addin, "Measure|", "OK|true", error);
}

void EmptyFile(const std::string& path) {
    // A missing file is as good as an empty one: nothing to report.
    const int ignored = ::truncate(path.c_str(), 0);
    static_cast<void>(ignored);
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

std::size_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t totalPages = 0;
    std::size_t residentPages = 0;
    if (!(statm >> totalPages >> residentPages)) return 0;
    return residentPages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

std::size_t PeakResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmHWM:") == 0) return std::strtoull(line.c_str() + 6, nullptr, 10) * 1024;
    }
    return 0;
}

}  // namespace nelko::bench
