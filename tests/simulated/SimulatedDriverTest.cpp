#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "SimulatedDevice.h"

namespace {

using nelko::simulator::ErrorCode;
using nelko::simulator::kAngleCount;
using nelko::simulator::kSampleCapacity;
using nelko::simulator::kWavelengthCount;
using nelko::simulator::SimulatedDevice;

constexpr int kNotCalibrated = 0, kInProgress = 1, kCalibrated = 2, kAborted = 3;

int Code(ErrorCode code) { return static_cast<int>(code); }
bool Empty(const char* text) { return text != nullptr && *text == '\0'; }
bool Is(const char* text, const char* expected) { return text != nullptr && std::string(text) == expected; }

void CalibrateFully(SimulatedDevice& dev) {
    ASSERT_TRUE(dev.Connect() && dev.Calibrate());
    for (const char* step : {"Black", "White", "Green"}) ASSERT_TRUE(dev.CalibrateStep(step)) << step;
}

std::vector<float> Curve(SimulatedDevice& dev, int angle) {
    std::vector<float> values(kWavelengthCount);
    for (int w = 0; w < kWavelengthCount; ++w) values[w] = dev.GetSpectralData(angle, w);
    return values;
}

void ExpectError(SimulatedDevice& dev, ErrorCode code, const std::string& context = {}) {
    EXPECT_EQ(dev.GetLastErrorCode(), Code(code)) << context;
    EXPECT_FALSE(Empty(dev.GetLastErrorString())) << context;
}

TEST(SimulatedDriver, DescribesItsGeometryAndWavelengths) {
    SimulatedDevice dev;
    ASSERT_EQ(dev.GetAngles(), 6);
    ASSERT_EQ(dev.GetWavelengths(), 31);
    const std::vector<std::string> angles{"-15", "15", "25", "45", "75", "110"};
    for (int i = 0; i < kAngleCount; ++i) EXPECT_EQ(dev.GetAngleValue(i), angles[i]);
    for (int i = 0; i < kWavelengthCount; ++i) EXPECT_EQ(dev.GetWavelengthValue(i), 400 + 10 * i);
}

enum class State { Disconnected, Connected, Measured };

TEST(SimulatedDriver, RefusalsReturnTheRefusalValueAndTheirReason) {
    struct Case {
        const char* call;
        State state;
        bool (*refused)(SimulatedDevice&);  // true when the call gave its refusal value
        ErrorCode code;
    };
    // clang-format 14 and 19 lay this macro out differently.
    // clang-format off
#define REFUSAL(state, expr, code) \
    { #expr, State::state, [](SimulatedDevice& d) -> bool { return expr; }, ErrorCode::code }
    // clang-format on
    const std::vector<Case> cases{
        REFUSAL(Disconnected, !d.Measure(), NotConnected),
        REFUSAL(Disconnected, !d.Calibrate(), NotConnected),
        REFUSAL(Disconnected, !d.Configure(), NotConnected),
        REFUSAL(Disconnected, Empty(d.GetSerialNum()), NotConnected),
        REFUSAL(Disconnected, Is(d.Execute("SelfTest"), "NOT CONNECTED"), NotConnected),
        REFUSAL(Connected, !d.Measure(), NotCalibrated),
        REFUSAL(Connected, !d.CalibrateStep("Black"), NoCalibrationRunning),
        REFUSAL(Connected, !d.AbortCalibration(), NoCalibrationRunning),
        REFUSAL(Connected, d.GetSpectralData(0, 0) == 0.0f, NoData),
        REFUSAL(Connected, !d.SetCurrentSample(0), NoData),
        REFUSAL(Connected, d.GetSampleData(0, 0) == 0.0f, NoData),
        REFUSAL(Measured, Empty(d.GetAngleValue(-1)), IndexOutOfRange),
        REFUSAL(Measured, Empty(d.GetAngleValue(6)), IndexOutOfRange),
        REFUSAL(Measured, d.GetWavelengthValue(31) == -1, IndexOutOfRange),
        REFUSAL(Measured, d.GetSpectralData(6, 0) == 0.0f, IndexOutOfRange),
        REFUSAL(Measured, d.GetSpectralData(0, -1) == 0.0f, IndexOutOfRange),
        REFUSAL(Measured, d.GetSampleData(0, 31) == 0.0f, IndexOutOfRange),
        REFUSAL(Measured, !d.SetCurrentSample(1), IndexOutOfRange),
        REFUSAL(Disconnected, !d.SetOption("Gloss", "High"), UnknownSetting),
        REFUSAL(Disconnected, Empty(d.GetOption("Gloss")), UnknownSetting),
        REFUSAL(Disconnected, Empty(d.GetSettingOptions(nullptr)), UnknownSetting),
        REFUSAL(Disconnected, !d.SetOption("Observer", "5"), InvalidOptionValue),
        REFUSAL(Disconnected, !d.SetOption("Observer", nullptr), InvalidOptionValue),
        REFUSAL(Disconnected, !d.SetLanguage(0x040C), UnsupportedLanguage),
        REFUSAL(Connected, Is(d.Execute("Selftest2"), "UNKNOWN COMMAND"), UnknownCommand),
        REFUSAL(Connected, Is(d.Execute(nullptr), "UNKNOWN COMMAND"), UnknownCommand),
    };
#undef REFUSAL
    for (const auto& c : cases) {
        SimulatedDevice dev;
        if (c.state == State::Connected) {
            ASSERT_TRUE(dev.Connect());
        } else if (c.state == State::Measured) {
            CalibrateFully(dev);
            ASSERT_TRUE(dev.Measure());
        }
        EXPECT_TRUE(c.refused(dev)) << c.call;
        ExpectError(dev, c.code, c.call);
    }
}

TEST(SimulatedDriver, FullCalibrationRunsItsStepsInOrder) {
    SimulatedDevice dev;
    ASSERT_TRUE(dev.Connect());
    EXPECT_STREQ(dev.GetCalMode(), "Full");
    EXPECT_STREQ(dev.GetCalSteps(), "Black;White;Green");
    ASSERT_TRUE(dev.Calibrate());
    EXPECT_FALSE(dev.Calibrate());
    ExpectError(dev, ErrorCode::CalibrationRunning);

    EXPECT_FALSE(dev.CalibrateStep("White"));
    ExpectError(dev, ErrorCode::WrongCalibrationStep);
    EXPECT_NE(std::string(dev.GetLastErrorString()).find("Black"), std::string::npos)
        << "the text names the expected step";

    const std::vector<std::pair<const char*, int>> steps{{"black", 33}, {"WHITE", 66}, {"Green", 100}};
    for (const auto& [step, progress] : steps) {
        EXPECT_EQ(dev.GetCalStatus(), kInProgress) << step;
        EXPECT_FALSE(dev.Measure()) << step;
        ExpectError(dev, ErrorCode::CalibrationRunning, step);
        ASSERT_TRUE(dev.CalibrateStep(step)) << step;
        EXPECT_EQ(dev.GetCalProgress(), progress) << step;
    }
    EXPECT_EQ(dev.GetCalStatus(), kCalibrated);
    EXPECT_TRUE(dev.Measure());

    ASSERT_TRUE(dev.Calibrate());  // a new calibration discards the previous one
    ASSERT_TRUE(dev.CalibrateStep("Black"));
    ASSERT_TRUE(dev.AbortCalibration());
    EXPECT_EQ(dev.GetCalStatus(), kAborted);
    EXPECT_EQ(dev.GetCalProgress(), 0);
    EXPECT_FALSE(dev.Measure());
    ExpectError(dev, ErrorCode::NotCalibrated);

    ASSERT_TRUE(dev.Calibrate());
    ASSERT_TRUE(dev.Disconnect());
    EXPECT_FALSE(dev.IsConnected());
    EXPECT_EQ(dev.GetCalStatus(), kAborted) << "disconnecting abandons a running calibration";
}

TEST(SimulatedDriver, ConfigureAppliesStagedOptions) {
    SimulatedDevice dev;
    ASSERT_TRUE(dev.Connect());
    ASSERT_TRUE(dev.SetOption("calmode", "quick"));
    EXPECT_STREQ(dev.GetOption("CalMode"), "Quick");
    EXPECT_STREQ(dev.GetCalMode(), "Full") << "staged only";

    ASSERT_TRUE(dev.Calibrate());
    EXPECT_FALSE(dev.Configure());
    ExpectError(dev, ErrorCode::CalibrationRunning);
    ASSERT_TRUE(dev.AbortCalibration());
    ASSERT_TRUE(dev.Configure());
    EXPECT_STREQ(dev.GetCalMode(), "Quick");
    EXPECT_STREQ(dev.GetCalSteps(), "White");
    ASSERT_TRUE(dev.Calibrate() && dev.CalibrateStep("White"));
    EXPECT_EQ(dev.GetCalStatus(), kCalibrated);

    // Changed optics invalidate the white reference; a colorimetric option does not.
    ASSERT_TRUE(dev.SetOption("Illuminant", "D50") && dev.Configure());
    EXPECT_EQ(dev.GetCalStatus(), kCalibrated);
    ASSERT_TRUE(dev.SetOption("Aperture", "6mm") && dev.Configure());
    EXPECT_EQ(dev.GetCalStatus(), kNotCalibrated);
}

TEST(SimulatedDriver, OptionsRoundTripInTheirCanonicalSpelling) {
    SimulatedDevice dev;
    EXPECT_STREQ(dev.GetAvailableSettings(), "Illuminant;Observer;Aperture;SpecularMode;CalMode");
    struct Case {
        const char *setting, *options, *written, *readBack;
    };
    const std::vector<Case> cases{
        {"Illuminant", "D65;D50;A;F2;F7;F11", "f11", "F11"},
        {"observer", "10;2", "2", "2"},
        {"Aperture", "12mm;6mm", "6MM", "6mm"},
        {"SpecularMode", "SCE;SCI", "SCI", "SCI"},
        {"CalMode", "Full;Quick", "quick", "Quick"},
    };
    for (const auto& c : cases) {
        const std::string options = dev.GetSettingOptions(c.setting);
        EXPECT_EQ(options, c.options) << c.setting;
        EXPECT_EQ(options.substr(0, options.find(';')), dev.GetOption(c.setting)) << "default first";
        ASSERT_TRUE(dev.SetOption(c.setting, c.written)) << c.setting;
        EXPECT_STREQ(dev.GetOption(c.setting), c.readBack);
        EXPECT_FALSE(dev.SetOption(c.setting, "D66"));
        EXPECT_STREQ(dev.GetOption(c.setting), c.readBack) << "a refused value must not stick";
    }
}

TEST(SimulatedDriver, SampleStoreKeepsEveryMeasurement) {
    SimulatedDevice dev;
    CalibrateFully(dev);
    std::vector<float> values;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(dev.Measure());
        values.push_back(dev.GetSpectralData(1, 8));
    }
    EXPECT_TRUE(dev.IsDataReady());
    EXPECT_EQ(dev.GetSampleCount(), 3);
    EXPECT_TRUE(values[0] != values[1] && values[1] != values[2]) << "each measurement differs a little";
    EXPECT_EQ(dev.GetSampleData(1, 8), values[2]) << "newest sample is current after Measure";
    for (int i : {0, 2, 1}) {
        ASSERT_TRUE(dev.SetCurrentSample(i));
        EXPECT_EQ(dev.GetSampleData(1, 8), values[static_cast<std::size_t>(i)]);
        EXPECT_EQ(dev.GetSpectralData(1, 8), values[2]) << "the last measurement is unaffected";
    }

    ASSERT_TRUE(dev.ClearSamples());
    EXPECT_EQ(dev.GetSampleCount(), 0);
    EXPECT_FALSE(dev.IsDataReady());
    ASSERT_TRUE(dev.Measure());
    EXPECT_NE(dev.GetSpectralData(1, 8), values[0]) << "measurement numbering continues";

    while (dev.GetSampleCount() < kSampleCapacity) ASSERT_TRUE(dev.Measure());
    EXPECT_FALSE(dev.Measure());
    ExpectError(dev, ErrorCode::SampleMemoryFull);
}

TEST(SimulatedDriver, CurvesAreSmoothPercentagesThatFlopWithAngle) {
    SimulatedDevice dev;
    CalibrateFully(dev);
    for (int n = 0; n < 20; ++n) {
        ASSERT_TRUE(dev.Measure());
        for (int a = 0; a < kAngleCount; ++a) {
            const auto curve = Curve(dev, a);
            ASSERT_EQ(dev.GetLastErrorCode(), 0);
            for (int w = 0; w < kWavelengthCount; ++w) {
                EXPECT_TRUE(curve[w] >= 0.0f && curve[w] <= 100.0f) << curve[w];
                if (w > 0) {
                    EXPECT_LT(std::fabs(curve[w] - curve[w - 1]), 12.0f) << "angle " << a << " wl " << w;
                }
            }
        }
    }
    auto peak = [&](int angle) {
        const auto curve = Curve(dev, angle);
        const auto it = std::max_element(curve.begin(), curve.end());
        return std::make_pair(*it, it - curve.begin());
    };
    for (int a = 2; a < kAngleCount; ++a) {
        EXPECT_LT(peak(a).first, peak(a - 1).first) << "darker away from the gloss angle, " << a;
        EXPECT_GE(peak(a).second, peak(a - 1).second) << "hue drifts to longer wavelengths, " << a;
    }
    EXPECT_GT(peak(5).second, peak(1).second);
    EXPECT_GT(peak(1).first, 2.0f * peak(5).first);
}

TEST(SimulatedDriver, MeasurementsAreReproducibleAndSciAddsSurfaceReflection) {
    SimulatedDevice sce, sci;
    CalibrateFully(sce);
    ASSERT_TRUE(sci.SetOption("SpecularMode", "SCI"));
    CalibrateFully(sci);
    ASSERT_TRUE(sci.Configure());
    ASSERT_TRUE(sce.Measure() && sci.Measure());
    for (int w = 0; w < kWavelengthCount; ++w)
        EXPECT_NEAR(sci.GetSpectralData(3, w) - sce.GetSpectralData(3, w), 4.0f, 1e-4f) << w;
}

TEST(SimulatedDriver, LanguageSwitchesErrorTexts) {
    SimulatedDevice dev;
    auto notConnectedText = [&] {
        dev.Measure();
        return std::string(dev.GetLastErrorString());
    };
    const std::string english = notConnectedText();
    ASSERT_TRUE(dev.SetLanguage(0x0407));
    const std::string german = notConnectedText();
    EXPECT_NE(german, english);
    ASSERT_TRUE(dev.SetLanguage(0x0807));  // Swiss German is still German
    EXPECT_EQ(notConnectedText(), german);
    EXPECT_FALSE(dev.SetLanguage(0x040C));
    EXPECT_EQ(notConnectedText(), german) << "a refused language leaves the current one";
    ASSERT_TRUE(dev.SetLanguage(0x0809));
    EXPECT_EQ(notConnectedText(), english);
}

TEST(SimulatedDriver, ErrorPersistsUntilTheNextOtherCall) {
    SimulatedDevice dev;
    EXPECT_FALSE(dev.Measure());
    const std::string text = dev.GetLastErrorString();
    EXPECT_EQ(dev.GetLastErrorCode(), Code(ErrorCode::NotConnected));
    EXPECT_EQ(dev.GetLastErrorCode(), Code(ErrorCode::NotConnected)) << "reading the error keeps it";
    EXPECT_EQ(dev.GetLastErrorString(), text);
    EXPECT_EQ(dev.GetAngles(), 6);
    EXPECT_EQ(dev.GetLastErrorCode(), 0) << "any successful call clears it";
    EXPECT_STREQ(dev.GetLastErrorString(), "No error");
}

TEST(SimulatedDriver, ExecuteAnswersKnownCommands) {
    SimulatedDevice dev;
    ASSERT_TRUE(dev.Connect());
    const std::vector<std::pair<const char*, const char*>> answers{
        {"SelfTest", "PASS"},
        {"selftest", "PASS"},
        {"Temperature", "23.5"},
        {"Help", "SelfTest;Version;Temperature;Help"},
    };
    for (const auto& [command, answer] : answers) {
        EXPECT_STREQ(dev.Execute(command), answer);
        EXPECT_EQ(dev.GetLastErrorCode(), 0) << command;
    }
    EXPECT_EQ(std::string(dev.Execute("Version")).rfind("NelkoSimulator", 0), 0u);
}

}  // namespace
