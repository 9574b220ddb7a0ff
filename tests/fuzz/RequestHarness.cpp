// Request texts, one a line, executed against the simulated instrument.
//
// The driver is loaded once per process; an input that leaves another driver loaded, or
// none, gets the simulator back afterwards, so every input starts against a loaded
// simulator. Its state (connection, calibration, samples) carries over from input to input,
// as it would through a long session; so inputs are short, and the fuzzer runs many.

#include "Harness.h"
#include "TestSupport.h"
#include "command/Instrument.h"

namespace nelko::fuzz {
namespace {

constexpr std::size_t kMaxRequests = 16;

Instrument& TheInstrument() {
    static Instrument instrument;
    return instrument;
}

bool IsSimulatorName(const std::string& name) {
    return name == "NelkoSimulator" || name == "./NelkoSimulator" || name == "sub/NelkoSimulator";
}

std::string LoadSimulator() {
    const std::string response = TheInstrument().Execute("Init|NelkoSimulator|").ToString();
    return response == "OK" ? std::string() : "Init|NelkoSimulator| answered " + response;
}

std::string Check(const std::string& request, const Result& result, bool driverLoaded) {
    const std::string response = result.ToString();
    const std::string name = request.substr(0, request.find('|'));
    const auto context = [&request] { return " for " + test::Printable(request.substr(0, 200)); };
    if (result.ok == (response.compare(0, 5, "ERROR") == 0)) return "status and text disagree" + context();
    if (!result.ok && result.text.empty()) return "ERROR without a reason" + context();
    const bool known =
        name == "Init" || name.compare(0, 5, "Hello") == 0 || TheInstrument().Commands().count(name) != 0;
    if (!known && response != "ERROR|Unknown command \"" + name + "\"")
        return "unknown command answered " + response + context();
    if (known && driverLoaded && response == "ERROR|No driver loaded") return "driver lost" + context();
    return std::string();
}

}  // namespace

std::string SetUpRequests() {
    EnterRunTree();
    return LoadSimulator();
}

std::string RunRequests(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string broken;
    bool driverLoaded = true;
    bool simulatorLoaded = true;
    std::size_t start = 0;
    for (std::size_t count = 0; broken.empty() && start <= text.size() && count < kMaxRequests; ++count) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string request = text.substr(start, end - start);
        start = end + 1;
        const Result result = TheInstrument().Execute(request);
        broken = Check(request, result, driverLoaded);
        const std::size_t nameEnd = request.find('|');
        if (request.substr(0, nameEnd) == "Init") {
            driverLoaded = result.ok;
            const std::size_t driverEnd = request.find('|', nameEnd + 1);
            simulatorLoaded = result.ok && IsSimulatorName(request.substr(nameEnd + 1, driverEnd - nameEnd - 1));
        }
    }
    // The next input starts against the simulator again, whatever happened here.
    if (!simulatorLoaded) {
        const std::string reloaded = LoadSimulator();
        if (broken.empty()) broken = reloaded;
    }
    const std::string baitMark = TakeBaitMark();
    return broken.empty() ? baitMark : broken;
}

}  // namespace nelko::fuzz
