// Every table command against the test driver: arguments, call counts and rendering.
#include <gtest/gtest.h>

#include <functional>

#include "LogFixture.h"
#include "command/Instrument.h"

namespace nelko::test {
namespace {

class HandlersTest : public LogFixture {
protected:
    void SetUp() override {
        LogFixture::SetUp();
        ASSERT_EQ(instrument.Execute("Init|TestDriver|").ToString(), "OK");
        driver = TestDriverControl::Attach();
        ASSERT_NE(driver.Reset, nullptr);
        driver.Reset();
    }

    Instrument instrument;
    TestDriverControl driver{};
};

struct HandlerCase {
    std::string request;
    std::function<void(const TestDriverControl&)> setUp;
    std::string response;
    std::string calls;
};

const auto kNothing = [](const TestDriverControl&) {};
const auto kTrue = [](const TestDriverControl& d) { d.SetBool(1); };
const auto kFalse = [](const TestDriverControl& d) { d.SetBool(0); };
// Only the low 8 bits of a driver bool count.
const auto kHighBitsOnly = [](const TestDriverControl& d) { d.SetBool(0x100); };
const auto kLowBitsSet = [](const TestDriverControl& d) { d.SetBool(0x102); };
const auto kMinusOne = [](const TestDriverControl& d) { d.SetInt(-1); };
const auto kFloat = [](const TestDriverControl& d) { d.SetFloat(12.345678f); };
const auto kText = [](const TestDriverControl& d) { d.SetText("a|b c"); };
const auto kEmptyText = [](const TestDriverControl& d) { d.SetText(""); };
const auto kNullText = [](const TestDriverControl& d) { d.SetText(nullptr); };

TEST_F(HandlersTest, EachCommandCallsItsEntryPointAndRendersByType) {
    const HandlerCase cases[] = {
        {"Connect|", kTrue, "OK|true", "Connect()\n"},
        {"Disconnect|", kFalse, "OK|false", "Disconnect()\n"},
        {"IsConnected|", kHighBitsOnly, "OK|false", "IsConnected()\n"},
        {"Measure|", kLowBitsSet, "OK|true", "Measure()\n"},
        {"Measure", kFalse, "OK|false", "Measure()\n"},
        {"IsDataReady|", kTrue, "OK|true", "IsDataReady()\n"},
        {"Calibrate|", kTrue, "OK|true", "Calibrate()\n"},
        {"AbortCalibration|", kTrue, "OK|true", "AbortCalibration()\n"},
        {"ClearSamples|", kTrue, "OK|true", "ClearSamples()\n"},
        {"Configure|", kTrue, "OK|true", "Configure()\n"},
        {"SetLanguage|1031|", kTrue, "OK|true", "SetLanguage(1031)\n"},
        {"SetLanguage|65535|", kTrue, "OK|true", "SetLanguage(65535)\n"},
        {"CalibrateStep|White|", kTrue, "OK|true", "CalibrateStep(\"White\")\n"},
        {"SetOption|Mode|2|3|", kTrue, "OK|true", "SetOption(\"Mode\",\"2\")\n"},
        {"SetOption|||", kFalse, "OK|false", "SetOption(\"\",\"\")\n"},
        {"SetCurrentSample|-3|", kTrue, "OK|true", "SetCurrentSample(-3)\n"},
        {"GetAngles|", kMinusOne, "OK|-1", "GetAngles()\n"},
        {"GetWavelengths|", kMinusOne, "OK|-1", "GetWavelengths()\n"},
        {"GetCalStatus|", kMinusOne, "OK|-1", "GetCalStatus()\n"},
        {"GetCalProgress|", kMinusOne, "OK|-1", "GetCalProgress()\n"},
        {"GetSampleCount|", kMinusOne, "OK|-1", "GetSampleCount()\n"},
        {"GetLastErrorCode|", kMinusOne, "OK|-1", "GetLastErrorCode()\n"},
        {"GetWavelengthValue|+7|", kMinusOne, "OK|-1", "GetWavelengthValue(7)\n"},
        {"GetAngleValue|2|", kText, "OK|a|b c", "GetAngleValue(2)\n"},
        {"GetAvailableSettings|", kText, "OK|a|b c", "GetAvailableSettings()\n"},
        {"GetCalSteps|", kEmptyText, "OK", "GetCalSteps()\n"},
        {"GetCalMode|ignored|", kText, "OK|a|b c", "GetCalMode()\n"},
        {"GetSerialNumber|", kText, "OK|a|b c", "GetSerialNum()\n"},
        {"GetLastErrorString|", kNullText, "OK", "GetLastErrorString()\n"},
        {"GetSettingOptions|Mode|", kNullText, "OK", "GetSettingOptions(\"Mode\")\n"},
        {"GetOption|Mode|", kText, "OK|a|b c", "GetOption(\"Mode\")\n"},
        {"Execute|SelfTest|", kText, "OK|a|b c", "Execute(\"SelfTest\")\n"},
        {"GetSpectralData|1|5|", kFloat, "OK|12.34568", "GetSpectralData(1,5)\n"},
        {"GetSampleData|-1|30|", kFloat, "OK|12.34568", "GetSampleData(-1,30)\n"},
        // Too few parameters, or parameters that do not convert: no driver call.
        {"GetSpectralData|x|", kNothing, "ERROR|Missing parameter", ""},
        {"GetSpectralData|1|x|", kNothing,
         "ERROR|Error executing command \"GetSpectralData\" (bad lexical cast: source type value could not be "
         "interpreted as target)",
         ""},
        {"GetCalMode|", kNothing, "ERROR|Missing parameter", ""},
        {"SetOption|Mode|", kNothing, "ERROR|Missing parameter", ""},
        {"SetLanguage|65536|", kNothing,
         "ERROR|Error executing command \"SetLanguage\" (bad lexical cast: source type value could not be "
         "interpreted as target)",
         ""},
        {"Execute|", kNothing, "ERROR|Missing parameter", ""},
    };
    for (const HandlerCase& c : cases) {
        SCOPED_TRACE(c.request);
        driver.Reset();
        c.setUp(driver);
        EXPECT_EQ(instrument.Execute(c.request).ToString(), c.response);
        EXPECT_EQ(driver.Calls(), c.calls);
    }
}

TEST_F(HandlersTest, SpectralDataAllCallsTheDriver31TimesInOrder) {
    driver.SetFloat(99.99999f);
    EXPECT_EQ(instrument.Execute("GetSpectralDataAll|2|").ToString(),
              "OK|100;100;100;100;100;100;100;100;100;100;100;100;100;100;100;100;100;100;100;100;100;100;100;100;"
              "100;100;100;100;100;100;100");
    std::string expected;
    for (int i = 0; i <= 30; ++i) expected += "GetSpectralData(2," + std::to_string(i) + ")\n";
    EXPECT_EQ(driver.Calls(), expected);

    driver.Reset();
    EXPECT_FALSE(instrument.Execute("GetSpectralDataAll|two|").ok);
    EXPECT_EQ(driver.Calls(), std::string());
}

TEST_F(HandlersTest, HandlersWriteNoTraceLinesOfTheirOwn) {
    ClearLog();
    instrument.Execute("GetSpectralDataAll|0|");
    EXPECT_EQ(Messages(),
              (std::vector<std::string>{"Parameters of GetSpectralDataAll|0|", "Command GetSpectralDataAll (0)"}));
}

}  // namespace
}  // namespace nelko::test
