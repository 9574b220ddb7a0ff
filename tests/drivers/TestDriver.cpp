// A driver whose answers the tests choose and whose calls they read back.
//
// Built several times: complete, and with one export renamed away (the build defines, say,
// Execute=OmittedExecute) to prove that binding is all or nothing. Its bool entry points
// deliberately return `int`, so tests can hand the add-in values whose low 8 bits differ
// from the rest.
#include <string>
#include <tuple>

#define NELKO_DRIVER_NO_PROTOTYPES
#include "NelkoDriver.h"

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

std::string Argument(const char* text) { return text == nullptr ? "null" : '"' + std::string(text) + '"'; }
// Only the low 16 bits of SetLanguage's argument are defined: they are what is recorded.
std::string Argument(unsigned short number) { return std::to_string(number); }
std::string Argument(int number) { return std::to_string(number); }

// Records "NAME(A,B)" on a line of its own; Measure also does what the test asked of it.
template <typename... Arguments>
void Record(const std::string& name, std::tuple<Arguments...> arguments) {
    std::string call = name + '(';
    std::apply(
        [&call](auto... each) {
            [[maybe_unused]] const char* separator = "";
            ((call += separator, call += Argument(each), separator = ","), ...);
        },
        arguments);
    calls += call + ")\n";
    if (name != "Measure") return;
    if (answers.thrownByMeasure != 0) throw answers.thrownByMeasure;
    if (answers.duringMeasure != nullptr) answers.duringMeasure();
}

// The answer for each result type; bool functions answer an `int`.
template <typename Result>
struct TestAnswer;
template <>
struct TestAnswer<bool> {
    using Type = int;
    static int Value() { return answers.boolValue; }
};
template <>
struct TestAnswer<int> {
    using Type = int;
    static int Value() { return answers.intValue; }
};
template <>
struct TestAnswer<float> {
    using Type = float;
    static float Value() { return answers.floatValue; }
};
template <>
struct TestAnswer<const char*> {
    using Type = const char*;
    static const char* Value() { return answers.nullText ? nullptr : answers.text.c_str(); }
};

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

#define TEST_ENTRY(name, result, parameters, arguments)                              \
    NELKO_DRIVER_EXPORT TestAnswer<result>::Type NELKO_DRIVER_CALL name parameters { \
        Record(#name, std::make_tuple arguments);                                    \
        return TestAnswer<result>::Value();                                          \
    }
NELKO_DRIVER_FUNCTIONS(TEST_ENTRY)
