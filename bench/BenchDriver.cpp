// BenchDriver: an instrument driver that answers every call at once from constants and
// keeps no record of its calls (the test driver appends each call to a text, which for
// GetSpectralDataAll costs about as much as the add-in's own work). With it, a request's
// time is the add-in's alone. Loaded with "Init|BenchDriver|".
#include "NelkoDriver.h"

namespace {

// A reflectance curve in percent, 400..700 nm, with the digits a real instrument reports.
constexpr float kCurve[31] = {14.40493f, 18.61972f, 23.55691f, 28.90457f, 34.18912f, 38.83382f, 42.25817f, 43.99581f,
                              43.79903f, 41.69597f, 37.98511f, 33.16459f, 27.82384f, 22.52587f, 17.71548f, 13.67023f,
                              10.49824f, 8.171052f, 6.575313f, 5.564107f, 5.000293f, 4.786552f, 4.884419f, 5.320671f,
                              6.165822f, 7.454348f, 9.059911f, 10.67203f, 11.98397f, 12.88246f, 13.42771f};

// One answer, read as whatever result type the function has.
struct Answer {
    float number;
    const char* text;
    operator bool() const { return true; }
    operator int() const { return static_cast<int>(number); }
    operator float() const { return number; }
    operator const char*() const { return text; }
};

// Chosen by the parameters alone: a curve value for the two-index functions, a
// wavelength for one index, short texts for the rest.
Answer Reply() { return {31, "BENCH-0001"}; }
Answer Reply(unsigned short) { return {1, ""}; }
Answer Reply(int index) { return {static_cast<float>(400 + 10 * index), "45"}; }
Answer Reply(const char*) { return {1, "D65;D50"}; }
Answer Reply(const char*, const char*) { return {1, ""}; }
Answer Reply(int, int wavelength) { return {wavelength >= 0 && wavelength < 31 ? kCurve[wavelength] : 0.0f, ""}; }

}  // namespace

#define BENCH_ENTRY(name, result, parameters, arguments) \
    NELKO_DRIVER_EXPORT result NELKO_DRIVER_CALL name parameters { return Reply arguments; }
NELKO_DRIVER_FUNCTIONS(BENCH_ENTRY)
#undef BENCH_ENTRY
