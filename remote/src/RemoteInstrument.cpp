#include "nelko/RemoteInstrument.h"

#include <charconv>

namespace nelko::remote {
namespace {

std::string Request(const char* name, const std::vector<std::string>& parameters) {
    std::string request = name;
    request += '|';
    for (const std::string& parameter : parameters) {
        // A "|" inside a parameter would shift every parameter after it.
        if (parameter.find('|') != std::string::npos)
            throw std::invalid_argument(std::string(name) + ": a parameter cannot hold \"|\": " + parameter);
        request += parameter;
        request += '|';
    }
    return request;
}

[[noreturn]] void Unexpected(const char* name, const std::string& text, const char* wanted) {
    throw Error(Failure::BadResponse, std::string(name) + " answered \"" + text + "\", not " + wanted);
}

template <typename Number>
bool ParseNumber(const std::string& text, Number& value) {
    const char* const end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end && !text.empty();
}

double ParseDouble(const char* name, const std::string& text) {
    double value = 0;
    if (!ParseNumber(text, value)) Unexpected(name, text, "a number");
    return value;
}

}  // namespace

std::string RemoteInstrument::Call(const char* name, const std::vector<std::string>& parameters) {
    const std::string response = connection_.Execute(Request(name, parameters));
    if (response.compare(0, 3, "OK|") == 0) return response.substr(3);
    if (response == "OK") return std::string();
    if (response.compare(0, 6, "ERROR|") == 0) throw Error(Failure::CommandFailed, response.substr(6));
    throw Error(Failure::BadResponse, std::string(name) + " answered \"" + response + "\", neither OK nor ERROR");
}

bool RemoteInstrument::CallBool(const char* name, const std::vector<std::string>& parameters) {
    const std::string text = Call(name, parameters);
    if (text != "true" && text != "false") Unexpected(name, text, "true or false");
    return text == "true";
}

int RemoteInstrument::CallInt(const char* name, const std::vector<std::string>& parameters) {
    const std::string text = Call(name, parameters);
    int value = 0;
    if (!ParseNumber(text, value)) Unexpected(name, text, "a whole number");
    return value;
}

double RemoteInstrument::CallDouble(const char* name, const std::vector<std::string>& parameters) {
    return ParseDouble(name, Call(name, parameters));
}

bool RemoteInstrument::Hello() { return Call("Hello") == "Hello"; }
void RemoteInstrument::Init(const std::string& driver) { Call("Init", {driver}); }
bool RemoteInstrument::Connect() { return CallBool("Connect"); }
bool RemoteInstrument::Disconnect() { return CallBool("Disconnect"); }
bool RemoteInstrument::IsConnected() { return CallBool("IsConnected"); }
std::string RemoteInstrument::GetSerialNumber() { return Call("GetSerialNumber"); }
bool RemoteInstrument::SetLanguage(int language) { return CallBool("SetLanguage", {std::to_string(language)}); }

int RemoteInstrument::GetAngles() { return CallInt("GetAngles"); }
std::string RemoteInstrument::GetAngleValue(int angle) { return Call("GetAngleValue", {std::to_string(angle)}); }
int RemoteInstrument::GetWavelengths() { return CallInt("GetWavelengths"); }
int RemoteInstrument::GetWavelengthValue(int index) { return CallInt("GetWavelengthValue", {std::to_string(index)}); }

bool RemoteInstrument::Measure() { return CallBool("Measure"); }
bool RemoteInstrument::IsDataReady() { return CallBool("IsDataReady"); }
double RemoteInstrument::GetSpectralData(int angle, int index) {
    return CallDouble("GetSpectralData", {std::to_string(angle), std::to_string(index)});
}

std::vector<double> RemoteInstrument::GetSpectralDataAll(int angle) {
    const std::string text = Call("GetSpectralDataAll", {std::to_string(angle)});
    std::vector<double> values;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(';', start);
        values.push_back(ParseDouble("GetSpectralDataAll", text.substr(start, end - start)));
        if (end == std::string::npos) return values;
        start = end + 1;
    }
}

int RemoteInstrument::GetCalStatus() { return CallInt("GetCalStatus"); }
bool RemoteInstrument::Calibrate() { return CallBool("Calibrate"); }
std::string RemoteInstrument::GetCalSteps() { return Call("GetCalSteps"); }
// The add-in asks for a parameter here, which the driver does not take.
std::string RemoteInstrument::GetCalMode() { return Call("GetCalMode", {"0"}); }
int RemoteInstrument::GetCalProgress() { return CallInt("GetCalProgress"); }
bool RemoteInstrument::CalibrateStep(const std::string& step) { return CallBool("CalibrateStep", {step}); }
bool RemoteInstrument::AbortCalibration() { return CallBool("AbortCalibration"); }

bool RemoteInstrument::ClearSamples() { return CallBool("ClearSamples"); }
int RemoteInstrument::GetSampleCount() { return CallInt("GetSampleCount"); }
bool RemoteInstrument::SetCurrentSample(int sample) { return CallBool("SetCurrentSample", {std::to_string(sample)}); }
double RemoteInstrument::GetSampleData(int angle, int index) {
    return CallDouble("GetSampleData", {std::to_string(angle), std::to_string(index)});
}

bool RemoteInstrument::Configure() { return CallBool("Configure"); }
std::string RemoteInstrument::GetAvailableSettings() { return Call("GetAvailableSettings"); }
std::string RemoteInstrument::GetSettingOptions(const std::string& setting) {
    return Call("GetSettingOptions", {setting});
}
std::string RemoteInstrument::GetOption(const std::string& option) { return Call("GetOption", {option}); }
bool RemoteInstrument::SetOption(const std::string& option, const std::string& value) {
    return CallBool("SetOption", {option, value});
}

int RemoteInstrument::GetLastErrorCode() { return CallInt("GetLastErrorCode"); }
std::string RemoteInstrument::GetLastErrorString() { return Call("GetLastErrorString"); }
std::string RemoteInstrument::Execute(const std::string& command) { return Call("Execute", {command}); }

}  // namespace nelko::remote
