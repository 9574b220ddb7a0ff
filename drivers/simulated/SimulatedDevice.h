// A simulated multi-angle spectrophotometer. The NelkoSimulator library forwards its exports
// to one instance; tests drive instances of their own, so every test starts from a fresh
// instrument. Member functions carry the export names so the two read side by side.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "NelkoDriver.h"

namespace nelko::simulator {

enum class ErrorCode : int {
    None = 0,
    NotConnected = 1,
    IndexOutOfRange = 2,
    UnknownSetting = 3,
    InvalidOptionValue = 4,
    NotCalibrated = 5,
    NoCalibrationRunning = 6,
    WrongCalibrationStep = 7,
    CalibrationRunning = 8,
    NoData = 9,
    UnsupportedLanguage = 10,
    UnknownCommand = 11,
    SampleMemoryFull = 12,
};

enum class CalStatus : int { NotCalibrated = 0, InProgress = 1, Calibrated = 2, Aborted = 3 };

inline constexpr int kAngleCount = 6;
inline constexpr int kWavelengthCount = 31;
inline constexpr int kFirstWavelengthNm = 400;
inline constexpr int kWavelengthStepNm = 10;
inline constexpr int kSampleCapacity = 100;
inline constexpr char kListSeparator = ';';

class SimulatedDevice {
public:
    SimulatedDevice();

    // The driver's functions under their export names (NelkoDriver.h). GetLastErrorCode and
    // GetLastErrorString leave the last error untouched; every other call clears it when it succeeds.
#define NELKO_DECLARE_DEVICE_FUNCTION(name, result, parameters, arguments) result name parameters;
    NELKO_DRIVER_FUNCTIONS(NELKO_DECLARE_DEVICE_FUNCTION)
#undef NELKO_DECLARE_DEVICE_FUNCTION

private:
    using Spectrum = std::array<std::array<float, kWavelengthCount>, kAngleCount>;
    // Each setting holds the index of its chosen option.
    using Settings = std::vector<int>;

    void ResetError();
    bool Fail(ErrorCode code, const std::string& detail = {});
    // Fails as above and returns `result`.
    template <typename T>
    T FailWith(T result, ErrorCode code, const std::string& detail = {}) {
        Fail(code, detail);
        return result;
    }
    bool RequireConnected();
    float ReadSpectrum(const Spectrum& spectrum, int angle, int wavelength);
    const std::vector<std::string>& ActiveCalSteps() const;

    bool connected_ = false;
    bool german_ = false;
    Settings pending_;
    Settings active_;

    CalStatus calStatus_ = CalStatus::NotCalibrated;
    int calStepsDone_ = 0;

    int measurementCount_ = 0;
    bool dataReady_ = false;
    Spectrum lastMeasurement_{};
    std::vector<Spectrum> samples_;
    int currentSample_ = -1;

    ErrorCode error_ = ErrorCode::None;
    std::string errorText_;

    // Text results stay valid until the next call of the same function.
    std::string calStepsText_;
    std::string settingsText_;
    std::string optionsText_;
};

}  // namespace nelko::simulator
