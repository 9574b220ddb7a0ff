#include "SimulatedDevice.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>

namespace nelko::simulator {
namespace {

struct Angle {
    const char* text;
    double aspecularDegrees;
};
const std::array<Angle, kAngleCount> kAngles{
    {{"-15", -15.0}, {"15", 15.0}, {"25", 25.0}, {"45", 45.0}, {"75", 75.0}, {"110", 110.0}}};

const char* const kSerialNumber = "NS6-2024-00117";
const char* const kVersionText = "NelkoSimulator 1.0.0 (firmware 2.3.1)";

struct SettingDefinition {
    std::string name;
    std::vector<std::string> options;  // the first one is the power-on default
};
enum SettingIndex { kIlluminant, kObserver, kAperture, kSpecularMode, kCalMode, kSettingCount };
enum SpecularOption { kSpecularExcluded, kSpecularIncluded };

const std::vector<SettingDefinition>& SettingTable() {
    static const std::vector<SettingDefinition> table{
        {"Illuminant", {"D65", "D50", "A", "F2", "F7", "F11"}},
        {"Observer", {"10", "2"}},
        {"Aperture", {"12mm", "6mm"}},
        {"SpecularMode", {"SCE", "SCI"}},
        {"CalMode", {"Full", "Quick"}},
    };
    return table;
}

const std::vector<std::vector<std::string>>& CalStepTable() {
    static const std::vector<std::vector<std::string>> table{
        {"Black", "White", "Green"},  // Full: zero offset, white scale, verification tile
        {"White"},                    // Quick: rescale only, trusts the stored black offset
    };
    return table;
}

// English first, then German, indexed by error code. ASCII only (ae, ue): the add-in passes
// texts on byte for byte and the server may not read them as UTF-8.
const std::array<std::array<const char*, 13>, 2> kMessages{{
    {"No error", "Instrument not connected", "Index out of range", "Unknown setting", "Invalid option value",
     "Instrument not calibrated", "No calibration running", "Calibration step out of order", "Calibration in progress",
     "No measurement data", "Language not supported", "Unknown command", "Sample memory full"},
    {"Kein Fehler", "Messgeraet nicht verbunden", "Index ausserhalb des Bereichs", "Unbekannte Einstellung",
     "Ungueltiger Optionswert", "Messgeraet nicht kalibriert", "Keine Kalibrierung aktiv",
     "Kalibrierschritt in falscher Reihenfolge", "Kalibrierung laeuft", "Keine Messdaten", "Sprache nicht unterstuetzt",
     "Unbekannter Befehl", "Probenspeicher voll"},
}};

// A null pointer from a careless caller is read as an empty text, which no name matches.
std::string Text(const char* text) { return text ? text : ""; }

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

std::string Join(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items) {
        if (!text.empty()) text += kListSeparator;
        text += item;
    }
    return text;
}

int FindSetting(const char* name) {
    const auto& table = SettingTable();
    for (std::size_t i = 0; i < table.size(); ++i)
        if (SameName(table[i].name, Text(name))) return static_cast<int>(i);
    return -1;
}

std::string RangeDetail(int count) { return "0.." + std::to_string(count - 1); }

// A blue pearlescent effect paint: a Gaussian body colour with a slight red rise, bright
// near the specular direction and darker when flat (flop), its peak drifting toward
// longer wavelengths as the aspecular angle grows (interference pigment). Each
// measurement number shifts hue and strength a little, as a real series of panels would.
float Reflectance(int measurement, int angle, int wavelength, bool specularIncluded) {
    const double degrees = kAngles[static_cast<std::size_t>(angle)].aspecularDegrees;
    const double nm = kFirstWavelengthNm + kWavelengthStepNm * wavelength;
    const double hueShift = 6.0 * std::sin(measurement * 1.7);
    const double strength = 1.0 + 0.05 * std::cos(measurement * 2.3);
    const double x = (nm - (480.0 + hueShift + 0.4 * degrees)) / 45.0;
    const double body = 4.0 + 38.0 * strength * std::exp(-0.5 * x * x) + 10.0 / (1.0 + std::exp(-(nm - 660.0) / 15.0));
    const double flake = 0.25 + 1.6 * std::exp(-std::fabs(degrees) / 20.0);
    // Including the specular component adds the ~4 % first-surface reflection of a clear coat.
    const double value = body * flake + (specularIncluded ? 4.0 : 0.0);
    return static_cast<float>(std::clamp(value, 0.0, 100.0));
}

}  // namespace

SimulatedDevice::SimulatedDevice() : pending_(kSettingCount, 0), active_(kSettingCount, 0) {}

void SimulatedDevice::ResetError() {
    error_ = ErrorCode::None;
    errorText_.clear();
}

bool SimulatedDevice::Fail(ErrorCode code, const std::string& detail) {
    error_ = code;
    errorText_ = kMessages[german_ ? 1 : 0][static_cast<std::size_t>(code)];
    if (!detail.empty()) errorText_ += " (" + detail + ")";
    return false;
}

bool SimulatedDevice::RequireConnected() { return connected_ || Fail(ErrorCode::NotConnected); }

bool SimulatedDevice::Connect() {
    ResetError();
    connected_ = true;
    return true;
}

bool SimulatedDevice::Disconnect() {
    ResetError();
    // Half a calibration is worthless once the instrument may have been moved.
    if (calStatus_ == CalStatus::InProgress) calStatus_ = CalStatus::Aborted;
    connected_ = false;
    return true;
}

bool SimulatedDevice::IsConnected() {
    ResetError();
    return connected_;
}

bool SimulatedDevice::SetLanguage(unsigned short language) {
    ResetError();
    // Windows language ids: the low 10 bits are the language, the rest the region.
    const int primary = language & 0x3FF;
    if (primary != 0x09 && primary != 0x07) return Fail(ErrorCode::UnsupportedLanguage);
    german_ = primary == 0x07;
    return true;
}

int SimulatedDevice::GetAngles() {
    ResetError();
    return kAngleCount;
}

int SimulatedDevice::GetWavelengths() {
    ResetError();
    return kWavelengthCount;
}

const char* SimulatedDevice::GetAngleValue(int index) {
    ResetError();
    if (index < 0 || index >= kAngleCount) return FailWith("", ErrorCode::IndexOutOfRange, RangeDetail(kAngleCount));
    return kAngles[static_cast<std::size_t>(index)].text;
}

int SimulatedDevice::GetWavelengthValue(int index) {
    ResetError();
    if (index < 0 || index >= kWavelengthCount)
        return FailWith(-1, ErrorCode::IndexOutOfRange, RangeDetail(kWavelengthCount));
    return kFirstWavelengthNm + kWavelengthStepNm * index;
}

const char* SimulatedDevice::GetSerialNum() {
    ResetError();
    return RequireConnected() ? kSerialNumber : "";
}

bool SimulatedDevice::Measure() {
    ResetError();
    if (!RequireConnected()) return false;
    if (calStatus_ == CalStatus::InProgress) return Fail(ErrorCode::CalibrationRunning);
    if (calStatus_ != CalStatus::Calibrated) return Fail(ErrorCode::NotCalibrated);
    if (static_cast<int>(samples_.size()) >= kSampleCapacity)
        return Fail(ErrorCode::SampleMemoryFull, std::to_string(kSampleCapacity));
    const bool specularIncluded = active_[kSpecularMode] == kSpecularIncluded;
    for (int a = 0; a < kAngleCount; ++a)
        for (int w = 0; w < kWavelengthCount; ++w)
            lastMeasurement_[static_cast<std::size_t>(a)][static_cast<std::size_t>(w)] =
                Reflectance(measurementCount_, a, w, specularIncluded);
    ++measurementCount_;
    dataReady_ = true;
    samples_.push_back(lastMeasurement_);
    currentSample_ = static_cast<int>(samples_.size()) - 1;
    return true;
}

float SimulatedDevice::ReadSpectrum(const Spectrum& spectrum, int angle, int wavelength) {
    if (angle < 0 || angle >= kAngleCount)
        return FailWith(0.0f, ErrorCode::IndexOutOfRange, "angle " + RangeDetail(kAngleCount));
    if (wavelength < 0 || wavelength >= kWavelengthCount)
        return FailWith(0.0f, ErrorCode::IndexOutOfRange, "wavelength " + RangeDetail(kWavelengthCount));
    return spectrum[static_cast<std::size_t>(angle)][static_cast<std::size_t>(wavelength)];
}

float SimulatedDevice::GetSpectralData(int angle, int wavelength) {
    ResetError();
    if (!dataReady_) return FailWith(0.0f, ErrorCode::NoData);
    return ReadSpectrum(lastMeasurement_, angle, wavelength);
}

bool SimulatedDevice::IsDataReady() {
    ResetError();
    return dataReady_;
}

int SimulatedDevice::GetCalStatus() {
    ResetError();
    return static_cast<int>(calStatus_);
}

const std::vector<std::string>& SimulatedDevice::ActiveCalSteps() const {
    return CalStepTable()[static_cast<std::size_t>(active_[kCalMode])];
}

bool SimulatedDevice::Calibrate() {
    ResetError();
    if (!RequireConnected()) return false;
    if (calStatus_ == CalStatus::InProgress) return Fail(ErrorCode::CalibrationRunning);
    calStatus_ = CalStatus::InProgress;
    calStepsDone_ = 0;
    return true;
}

const char* SimulatedDevice::GetCalSteps() {
    ResetError();
    calStepsText_ = Join(ActiveCalSteps());
    return calStepsText_.c_str();
}

const char* SimulatedDevice::GetCalMode() {
    ResetError();
    return SettingTable()[kCalMode].options[static_cast<std::size_t>(active_[kCalMode])].c_str();
}

int SimulatedDevice::GetCalProgress() {
    ResetError();
    switch (calStatus_) {
        case CalStatus::Calibrated: return 100;
        case CalStatus::InProgress: return calStepsDone_ * 100 / static_cast<int>(ActiveCalSteps().size());
        default: return 0;
    }
}

bool SimulatedDevice::AbortCalibration() {
    ResetError();
    if (calStatus_ != CalStatus::InProgress) return Fail(ErrorCode::NoCalibrationRunning);
    calStatus_ = CalStatus::Aborted;
    return true;
}

bool SimulatedDevice::CalibrateStep(const char* step) {
    ResetError();
    if (!RequireConnected()) return false;
    if (calStatus_ != CalStatus::InProgress) return Fail(ErrorCode::NoCalibrationRunning);
    const auto& steps = ActiveCalSteps();
    const std::string& expected = steps[static_cast<std::size_t>(calStepsDone_)];
    if (!SameName(expected, Text(step))) return Fail(ErrorCode::WrongCalibrationStep, "expected " + expected);
    if (++calStepsDone_ == static_cast<int>(steps.size())) calStatus_ = CalStatus::Calibrated;
    return true;
}

bool SimulatedDevice::ClearSamples() {
    ResetError();
    samples_.clear();
    currentSample_ = -1;
    dataReady_ = false;
    return true;
}

int SimulatedDevice::GetSampleCount() {
    ResetError();
    return static_cast<int>(samples_.size());
}

bool SimulatedDevice::SetCurrentSample(int index) {
    ResetError();
    const int count = static_cast<int>(samples_.size());
    if (count == 0) return Fail(ErrorCode::NoData);
    if (index < 0 || index >= count) return Fail(ErrorCode::IndexOutOfRange, RangeDetail(count));
    currentSample_ = index;
    return true;
}

float SimulatedDevice::GetSampleData(int angle, int wavelength) {
    ResetError();
    if (currentSample_ < 0) return FailWith(0.0f, ErrorCode::NoData);
    return ReadSpectrum(samples_[static_cast<std::size_t>(currentSample_)], angle, wavelength);
}

bool SimulatedDevice::Configure() {
    ResetError();
    if (!RequireConnected()) return false;
    if (calStatus_ == CalStatus::InProgress) return Fail(ErrorCode::CalibrationRunning);
    // The white and black references depend on the optics and the procedure followed.
    const bool opticsChanged = pending_[kAperture] != active_[kAperture] || pending_[kCalMode] != active_[kCalMode];
    if (opticsChanged && calStatus_ == CalStatus::Calibrated) calStatus_ = CalStatus::NotCalibrated;
    active_ = pending_;
    return true;
}

const char* SimulatedDevice::GetAvailableSettings() {
    ResetError();
    std::vector<std::string> names;
    for (const auto& definition : SettingTable()) names.push_back(definition.name);
    settingsText_ = Join(names);
    return settingsText_.c_str();
}

const char* SimulatedDevice::GetSettingOptions(const char* setting) {
    ResetError();
    const int index = FindSetting(setting);
    if (index < 0) return FailWith("", ErrorCode::UnknownSetting);
    optionsText_ = Join(SettingTable()[static_cast<std::size_t>(index)].options);
    return optionsText_.c_str();
}

const char* SimulatedDevice::GetOption(const char* setting) {
    ResetError();
    const int index = FindSetting(setting);
    if (index < 0) return FailWith("", ErrorCode::UnknownSetting);
    const auto& options = SettingTable()[static_cast<std::size_t>(index)].options;
    return options[static_cast<std::size_t>(pending_[static_cast<std::size_t>(index)])].c_str();
}

bool SimulatedDevice::SetOption(const char* setting, const char* value) {
    ResetError();
    const int index = FindSetting(setting);
    if (index < 0) return Fail(ErrorCode::UnknownSetting);
    const auto& options = SettingTable()[static_cast<std::size_t>(index)].options;
    for (std::size_t i = 0; i < options.size(); ++i) {
        if (SameName(options[i], Text(value))) {
            pending_[static_cast<std::size_t>(index)] = static_cast<int>(i);
            return true;
        }
    }
    return Fail(ErrorCode::InvalidOptionValue, Join(options));
}

int SimulatedDevice::GetLastErrorCode() { return static_cast<int>(error_); }

const char* SimulatedDevice::GetLastErrorString() {
    return error_ == ErrorCode::None ? kMessages[german_ ? 1 : 0][0] : errorText_.c_str();
}

const char* SimulatedDevice::Execute(const char* command) {
    ResetError();
    const std::string name = Text(command);
    if (SameName(name, "Help")) return "SelfTest;Version;Temperature;Help";
    if (SameName(name, "Version")) return kVersionText;
    const bool needsInstrument = SameName(name, "SelfTest") || SameName(name, "Temperature");
    if (!needsInstrument) return FailWith("UNKNOWN COMMAND", ErrorCode::UnknownCommand);
    if (!RequireConnected()) return "NOT CONNECTED";
    return SameName(name, "SelfTest") ? "PASS" : "23.5";
}

}  // namespace nelko::simulator
