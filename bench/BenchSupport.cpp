#include "BenchSupport.h"

#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "TestSupport.h"

namespace nelko::bench {

PrivateLogFolder::PrivateLogFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = (base != nullptr && *base != '\0') ? base : "/tmp";
    pattern += "/nb.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return;
    path_ = pattern;
    test::SetTemporaryDirectoryEnvironment(path_);
}

PrivateLogFolder::~PrivateLogFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::unique_ptr<AddinLibrary> LoadAddin(std::string& error) {
    std::unique_ptr<AddinLibrary> addin = AddinLibrary::Load(support::AddinLibraryPath(), error);
    if (addin == nullptr) error += "; run from the build's bin folder";
    return addin;
}

namespace {

bool Expect(const AddinLibrary& addin, const char* request, const std::string& expected, std::string& error) {
    const std::string response = addin.Execute(request).value_or("");
    if (response == expected) return true;
    error = std::string("\"") + request + "\" answered \"" + response + "\", expected \"" + expected + "\"";
    return false;
}

// The copy the add-in loaded, not a second one.
bool ResetLoadedTestDriver(float floatAnswer) {
    const test::TestDriverControl driver = test::TestDriverControl::Attach();
    if (driver.Reset == nullptr || driver.SetFloat == nullptr) return false;
    driver.Reset();
    driver.SetFloat(floatAnswer);
    return true;
}

}  // namespace

bool UseBenchDriver(const AddinLibrary& addin, std::string& error) {
    return Expect(addin, "Init|BenchDriver|", "OK", error);
}

std::string ExpectedSpectralDataAll(const char* driverName) {
    const std::string path = platform::DriverLibraryPath(driverName);
    if (!test::IsLibraryResident(path)) return "(" + path + " is not loaded)";
    // A second reference to the add-in's copy, for the lookup only.
    const platform::LibraryHandle library = platform::OpenLibrary(path);
    using SpectralDataFn = float (*)(int, int);
    const auto spectralData = reinterpret_cast<SpectralDataFn>(platform::FindExport(library, "GetSpectralData"));
    std::string answer = "OK|";
    for (int wavelength = 0; spectralData != nullptr && wavelength < 31; ++wavelength) {
        if (wavelength > 0) answer += ';';
        char digits[64];
        const auto result =
            std::to_chars(digits, digits + sizeof digits, static_cast<double>(spectralData(0, wavelength)),
                          std::chars_format::general, 6);
        answer.append(digits, result.ptr);
    }
    platform::CloseLibrary(library);
    return answer;
}

bool UseTestDriver(const AddinLibrary& addin, float floatAnswer, std::string& error) {
    if (!Expect(addin, "Init|TestDriver|", "OK", error)) return false;
    if (ResetLoadedTestDriver(floatAnswer)) return true;
    error = "TestDriver.so is loaded but its control exports were not found";
    return false;
}

void ClearTestDriverRecord(float floatAnswer) { ResetLoadedTestDriver(floatAnswer); }

bool UseSimulator(const AddinLibrary& addin, std::string& error) {
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
