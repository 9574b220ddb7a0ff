// BenchDriver: an instrument driver that answers every call at once from constants and
// keeps no record of its calls (the test driver appends each call to a text, which for
// GetSpectralDataAll costs about as much as the add-in's own work). With it, a request's
// time is the add-in's alone. Loaded with "Init|BenchDriver|".
#include "platform/Exports.h"

namespace {

// A reflectance curve in percent, 400..700 nm, with the digits a real instrument reports.
constexpr float kCurve[31] = {14.40493f, 18.61972f, 23.55691f, 28.90457f, 34.18912f, 38.83382f, 42.25817f, 43.99581f,
                              43.79903f, 41.69597f, 37.98511f, 33.16459f, 27.82384f, 22.52587f, 17.71548f, 13.67023f,
                              10.49824f, 8.171052f, 6.575313f, 5.564107f, 5.000293f, 4.786552f, 4.884419f, 5.320671f,
                              6.165822f, 7.454348f, 9.059911f, 10.67203f, 11.98397f, 12.88246f, 13.42771f};

float CurveValue(int wavelength) { return wavelength >= 0 && wavelength < 31 ? kCurve[wavelength] : 0.0f; }

}  // namespace

#define BENCH_BOOL(name) \
    NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL name() { return true; }
#define BENCH_INT(name, value) \
    NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL name() { return value; }
#define BENCH_TEXT(name, value) \
    NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL name() { return value; }
#define BENCH_TEXT_TEXT(name, value) \
    NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL name(const char*) { return value; }
#define BENCH_FLOAT_INT_INT(name) \
    NELKO_DRIVER_EXPORT float NELKO_DRIVER_CALL name(int, int wavelength) { return CurveValue(wavelength); }

BENCH_BOOL(Connect)
BENCH_BOOL(Disconnect)
BENCH_BOOL(IsConnected)
BENCH_BOOL(Measure)
BENCH_BOOL(IsDataReady)
BENCH_BOOL(Calibrate)
BENCH_BOOL(AbortCalibration)
BENCH_BOOL(ClearSamples)
BENCH_BOOL(Configure)
BENCH_INT(GetAngles, 6)
BENCH_INT(GetWavelengths, 31)
BENCH_INT(GetCalStatus, 2)
BENCH_INT(GetCalProgress, 100)
BENCH_INT(GetSampleCount, 1)
BENCH_INT(GetLastErrorCode, 0)
BENCH_TEXT(GetAvailableSettings, "Illuminant;Observer")
BENCH_TEXT(GetCalSteps, "Black;White")
BENCH_TEXT(GetCalMode, "Full")
BENCH_TEXT(GetSerialNum, "BENCH-0001")
BENCH_TEXT(GetLastErrorString, "")
BENCH_TEXT_TEXT(GetSettingOptions, "D65;D50")
BENCH_TEXT_TEXT(GetOption, "D65")
BENCH_TEXT_TEXT(Execute, "OK")
BENCH_FLOAT_INT_INT(GetSpectralData)
BENCH_FLOAT_INT_INT(GetSampleData)

NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL CalibrateStep(const char*) { return true; }
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL SetOption(const char*, const char*) { return true; }
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL SetLanguage(unsigned short) { return true; }
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL SetCurrentSample(int) { return true; }
NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL GetWavelengthValue(int index) { return 400 + 10 * index; }
NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL GetAngleValue(int) { return "45"; }
