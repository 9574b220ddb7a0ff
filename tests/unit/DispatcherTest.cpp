// Instrument::Execute without a driver: the dispatcher's own rules and trace lines.
#include <gtest/gtest.h>

#include "LogFixture.h"
#include "command/Instrument.h"

namespace nelko::test {
namespace {

using namespace std::string_literals;

struct DispatchCase {
    std::string request;
    std::string response;
    std::vector<std::string> trace;
};

void PrintTo(const DispatchCase& c, std::ostream* os) { *os << Printable(c.request); }

class DispatchTest : public LogFixture, public ::testing::WithParamInterface<DispatchCase> {};

TEST_P(DispatchTest, ResponseAndTrace) {
    Instrument instrument;
    ClearLog();
    const DispatchCase& c = GetParam();
    EXPECT_EQ(instrument.Execute(c.request).ToString(), c.response);
    EXPECT_EQ(Messages(), c.trace);
}

const std::string kCastFailure = "bad lexical cast: source type value could not be interpreted as target";

INSTANTIATE_TEST_SUITE_P(
    Requests, DispatchTest,
    ::testing::Values(
        DispatchCase{"Hello", "OK|Hello", {"Hello -> Hello"}},
        DispatchCase{"Hello|a|b|", "OK|Hello", {"Hello -> Hello"}},
        DispatchCase{"HelloWorld", "OK|Hello", {"Hello -> Hello"}},
        DispatchCase{"Hello\0\0"s, "OK|Hello", {"Hello -> Hello"}},
        DispatchCase{"hello", "ERROR|Unknown command \"hello\"", {"Parameters of hello"}},
        DispatchCase{"xHello|", "ERROR|Unknown command \"xHello\"", {"Parameters of xHello|"}},
        DispatchCase{"", "ERROR|Unknown command \"\"", {"Parameters of "}},
        DispatchCase{"|Measure|", "ERROR|Unknown command \"\"", {"Parameters of |Measure|"}},
        DispatchCase{"Foo|a|", "ERROR|Unknown command \"Foo\"", {"Parameters of Foo|a|"}},
        DispatchCase{"Measure\0\0"s, "ERROR|Unknown command \"Measure\0\0\""s, {"Parameters of Measure\0\0"s}},
        DispatchCase{"init|x|", "ERROR|Unknown command \"init\"", {"Parameters of init|x|"}},
        DispatchCase{"Init2|x|", "ERROR|Unknown command \"Init2\"", {"Parameters of Init2|x|"}},
        DispatchCase{"Measure", "ERROR|No driver loaded", {"Parameters of Measure", "Command Measure ()"}},
        DispatchCase{"SetOption|Mode|2|",
                     "ERROR|No driver loaded",
                     {"Parameters of SetOption|Mode|2|", "Command SetOption (Mode, 2)"}},
        DispatchCase{
            "SetOption|||b|", "ERROR|No driver loaded", {"Parameters of SetOption|||b|", "Command SetOption (, , b)"}},
        DispatchCase{"SetOption|Mode|",
                     "ERROR|Missing parameter",
                     {"Parameters of SetOption|Mode|", "Command SetOption (Mode)"}},
        DispatchCase{"SetLanguage|x|",
                     "ERROR|Error executing command \"SetLanguage\" (" + kCastFailure + ")",
                     {"Parameters of SetLanguage|x|", "Command SetLanguage (x)"}},
        DispatchCase{"GetSpectralData|x|",
                     "ERROR|Missing parameter",
                     {"Parameters of GetSpectralData|x|", "Command GetSpectralData (x)"}},
        DispatchCase{"Init|Driver", "ERROR|Missing parameter", {"Parameters of Init|Driver"}},
        DispatchCase{
            "Init|NoSuchDriver|extra|",
            "ERROR|Error loading driver (\"NoSuchDriver\") on client",
            {"Parameters of Init|NoSuchDriver|extra|", "Loading driver \"NoSuchDriver\"", "Loading Driver error"}}));

// With no driver loaded every table command still checks its parameter count and
// converts its parameters first, and then refuses without calling anything.
struct NoDriverCase {
    std::string command;
    int parameterCount;
    bool converts;  // parameter 1 (or 2) is a number
};

TEST_F(LogFixture, EveryTableCommandWithoutDriver) {
    Instrument instrument;
    const NoDriverCase cases[] = {{"AbortCalibration", 0, false},
                                  {"Calibrate", 0, false},
                                  {"CalibrateStep", 1, false},
                                  {"ClearSamples", 0, false},
                                  {"Configure", 0, false},
                                  {"Connect", 0, false},
                                  {"Disconnect", 0, false},
                                  {"Execute", 1, false},
                                  {"GetAngleValue", 1, true},
                                  {"GetAngles", 0, false},
                                  {"GetAvailableSettings", 0, false},
                                  {"GetCalProgress", 0, false},
                                  {"GetCalStatus", 0, false},
                                  {"GetCalSteps", 0, false},
                                  {"GetCalMode", 1, false},
                                  {"GetLastErrorCode", 0, false},
                                  {"GetLastErrorString", 0, false},
                                  {"GetOption", 1, false},
                                  {"GetSampleCount", 0, false},
                                  {"GetSampleData", 2, true},
                                  {"GetSerialNumber", 0, false},
                                  {"GetSettingOptions", 1, false},
                                  {"GetSpectralData", 2, true},
                                  {"GetSpectralDataAll", 1, true},
                                  {"GetWavelengths", 0, false},
                                  {"GetWavelengthValue", 1, true},
                                  {"IsConnected", 0, false},
                                  {"IsDataReady", 0, false},
                                  {"Measure", 0, false},
                                  {"SetCurrentSample", 1, true},
                                  {"SetLanguage", 1, true},
                                  {"SetOption", 2, false}};
    ASSERT_EQ(std::size(cases) + 1, instrument.Commands().size());  // plus "Hello"
    for (const NoDriverCase& c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(instrument.Commands().count(c.command), 1u);
        std::string request = c.command + "|";
        for (int i = 1; i < c.parameterCount; ++i) request += "1|";
        if (c.parameterCount > 0) {
            EXPECT_EQ(instrument.Execute(request).ToString(), "ERROR|Missing parameter");
        }
        EXPECT_EQ(instrument.Execute(request + "1|").ToString(), "ERROR|No driver loaded");
        if (c.converts) {
            EXPECT_EQ(instrument.Execute(request + "z|").ToString(),
                      "ERROR|Error executing command \"" + c.command + "\" (" + kCastFailure + ")");
        }
    }
    EXPECT_EQ(instrument.Commands().count("Hello"), 1u);
    EXPECT_EQ(instrument.Commands().count("Init"), 0u);
}

TEST_F(LogFixture, TableHelloHandlerAnswersLikeTheShortCut) {
    Instrument instrument;
    EXPECT_EQ(instrument.Commands().at("Hello")({}).ToString(), "OK|Hello");
}

TEST_F(LogFixture, StaysUsableAfterAFailedCommand) {
    Instrument instrument;
    EXPECT_FALSE(instrument.Execute("SetLanguage|-1|").ok);
    EXPECT_EQ(instrument.Execute("Hello|").ToString(), "OK|Hello");
}

}  // namespace
}  // namespace nelko::test
