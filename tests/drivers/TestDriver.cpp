// A driver whose answers the tests choose and whose calls they read back.
//
// Built several times: complete, and with one export left out (NELKO_OMIT_EXPORT) to
// prove that binding is all or nothing. Its bool entry points deliberately return `int`,
// so tests can hand the add-in values whose low 8 bits differ from the rest.
#include <string>

#include "platform/Exports.h"

#if defined(_WIN32)
#define TEST_CONTROL_EXPORT extern "C" __declspec(dllexport)
#else
#define TEST_CONTROL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

struct Answers {
    int boolValue = 1;
    int intValue = 0;
    float floatValue = 0.0f;
    bool nullText = false;
    std::string text;
    int thrownByMeasure = 0;            // non-zero: Measure throws it, an int and no standard exception
    void (*duringMeasure)() = nullptr;  // called by Measure, as a driver calling back out would
};

Answers answers;
std::string calls;

void Record(const std::string& call) {
    calls += call;
    calls += '\n';
}

std::string Quoted(const char* text) { return text == nullptr ? "null" : '"' + std::string(text) + '"'; }

const char* TextAnswer() { return answers.nullText ? nullptr : answers.text.c_str(); }

}  // namespace

TEST_CONTROL_EXPORT void TestDriver_Reset() {
    answers = Answers{};
    calls.clear();
}
TEST_CONTROL_EXPORT void TestDriver_SetBool(int value) { answers.boolValue = value; }
TEST_CONTROL_EXPORT void TestDriver_SetInt(int value) { answers.intValue = value; }
TEST_CONTROL_EXPORT void TestDriver_SetFloat(float value) { answers.floatValue = value; }
// A null text makes every text entry point return null.
TEST_CONTROL_EXPORT void TestDriver_SetText(const char* text) {
    answers.nullText = text == nullptr;
    answers.text = text == nullptr ? "" : text;
}
TEST_CONTROL_EXPORT void TestDriver_SetThrow(int value) { answers.thrownByMeasure = value; }
TEST_CONTROL_EXPORT void TestDriver_SetDuringMeasure(void (*callback)()) { answers.duringMeasure = callback; }
TEST_CONTROL_EXPORT const char* TestDriver_Calls() { return calls.c_str(); }

#define BOOL_ENTRY(name)                               \
    NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL name() { \
        Record(#name "()");                            \
        return answers.boolValue;                      \
    }
#define INT_ENTRY(name)                                \
    NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL name() { \
        Record(#name "()");                            \
        return answers.intValue;                       \
    }
#define TEXT_ENTRY(name)                                       \
    NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL name() { \
        Record(#name "()");                                    \
        return TextAnswer();                                   \
    }
#define TEXT_TEXT_ENTRY(name)                                                 \
    NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL name(const char* arg) { \
        Record(#name "(" + Quoted(arg) + ")");                                \
        return TextAnswer();                                                  \
    }
#define FLOAT_INT_INT_ENTRY(name)                                                       \
    NELKO_DRIVER_EXPORT float NELKO_DRIVER_CALL name(int first, int second) {           \
        Record(#name "(" + std::to_string(first) + "," + std::to_string(second) + ")"); \
        return answers.floatValue;                                                      \
    }

#if !defined(NELKO_OMIT_CONNECT)
BOOL_ENTRY(Connect)
#endif
BOOL_ENTRY(Disconnect)
BOOL_ENTRY(IsConnected)
NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL Measure() {
    Record("Measure()");
    if (answers.thrownByMeasure != 0) throw answers.thrownByMeasure;
    if (answers.duringMeasure != nullptr) answers.duringMeasure();
    return answers.boolValue;
}
BOOL_ENTRY(IsDataReady)
BOOL_ENTRY(Calibrate)
BOOL_ENTRY(AbortCalibration)
BOOL_ENTRY(ClearSamples)
BOOL_ENTRY(Configure)
INT_ENTRY(GetAngles)
INT_ENTRY(GetWavelengths)
INT_ENTRY(GetCalStatus)
INT_ENTRY(GetCalProgress)
INT_ENTRY(GetSampleCount)
INT_ENTRY(GetLastErrorCode)
TEXT_ENTRY(GetAvailableSettings)
TEXT_ENTRY(GetCalSteps)
TEXT_ENTRY(GetCalMode)
TEXT_ENTRY(GetSerialNum)
TEXT_ENTRY(GetLastErrorString)
TEXT_TEXT_ENTRY(GetSettingOptions)
TEXT_TEXT_ENTRY(GetOption)
#if !defined(NELKO_OMIT_EXECUTE)
TEXT_TEXT_ENTRY(Execute)
#endif
FLOAT_INT_INT_ENTRY(GetSpectralData)
FLOAT_INT_INT_ENTRY(GetSampleData)

NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL CalibrateStep(const char* step) {
    Record("CalibrateStep(" + Quoted(step) + ")");
    return answers.boolValue;
}
NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL SetOption(const char* name, const char* value) {
    Record("SetOption(" + Quoted(name) + "," + Quoted(value) + ")");
    return answers.boolValue;
}
// Only the low 16 bits of the argument are defined; record exactly those.
NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL SetLanguage(unsigned short language) {
    Record("SetLanguage(" + std::to_string(language) + ")");
    return answers.boolValue;
}
NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL SetCurrentSample(int index) {
    Record("SetCurrentSample(" + std::to_string(index) + ")");
    return answers.boolValue;
}
NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL GetWavelengthValue(int index) {
    Record("GetWavelengthValue(" + std::to_string(index) + ")");
    return answers.intValue;
}
NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL GetAngleValue(int index) {
    Record("GetAngleValue(" + std::to_string(index) + ")");
    return TextAnswer();
}
