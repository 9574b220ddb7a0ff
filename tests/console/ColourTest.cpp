// Colour figures of the console (where Little CMS is built in): the colour difference
// against published reference pairs, the summation over the CIE tables, the sRGB value,
// and what a session shows for good and bad curves.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>

#include "Colorimetry.h"
#include "RunConsole.h"
#include "Session.h"

namespace nelko::console {
namespace {

TEST(Colorimetry, DeltaE00MatchesTheSharmaWuDalalReferencePairsToFourDecimals) {
    // Sharma, Wu and Dalal, "The CIEDE2000 color-difference formula: implementation notes,
    // supplementary test data, and mathematical observations", Color Res. Appl. 30 (2005), table 1.
    const struct {
        Lab first, second;
        double deltaE00;
    } pairs[] = {
        {{50.0000, 2.6772, -79.7751}, {50.0000, 0.0000, -82.7485}, 2.0425},
        {{50.0000, 3.1571, -77.2803}, {50.0000, 0.0000, -82.7485}, 2.8615},
        {{50.0000, 2.8361, -74.0200}, {50.0000, 0.0000, -82.7485}, 3.4412},
        {{50.0000, -1.3802, -84.2814}, {50.0000, 0.0000, -82.7485}, 1.0000},
        {{50.0000, -1.1848, -84.8006}, {50.0000, 0.0000, -82.7485}, 1.0000},
        {{50.0000, -0.9009, -85.5211}, {50.0000, 0.0000, -82.7485}, 1.0000},
        {{50.0000, 0.0000, 0.0000}, {50.0000, -1.0000, 2.0000}, 2.3669},
        {{50.0000, -1.0000, 2.0000}, {50.0000, 0.0000, 0.0000}, 2.3669},
        {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0009}, 7.1792},
        {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0010}, 7.1792},
        {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0011}, 7.2195},
        {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0012}, 7.2195},
        {{50.0000, -0.0010, 2.4900}, {50.0000, 0.0009, -2.4900}, 4.8045},
        {{50.0000, -0.0010, 2.4900}, {50.0000, 0.0010, -2.4900}, 4.8045},
        {{50.0000, -0.0010, 2.4900}, {50.0000, 0.0011, -2.4900}, 4.7461},
        {{50.0000, 2.5000, 0.0000}, {50.0000, 0.0000, -2.5000}, 4.3065},
        {{50.0000, 2.5000, 0.0000}, {73.0000, 25.0000, -18.0000}, 27.1492},
        {{50.0000, 2.5000, 0.0000}, {61.0000, -5.0000, 29.0000}, 22.8977},
        {{50.0000, 2.5000, 0.0000}, {56.0000, -27.0000, -3.0000}, 31.9030},
        {{50.0000, 2.5000, 0.0000}, {58.0000, 24.0000, 15.0000}, 19.4535},
        {{50.0000, 2.5000, 0.0000}, {50.0000, 3.1736, 0.5854}, 1.0000},
        {{50.0000, 2.5000, 0.0000}, {50.0000, 3.2972, 0.0000}, 1.0000},
        {{50.0000, 2.5000, 0.0000}, {50.0000, 1.8634, 0.5757}, 1.0000},
        {{50.0000, 2.5000, 0.0000}, {50.0000, 3.2592, 0.3350}, 1.0000},
        {{60.2574, -34.0099, 36.2677}, {60.4626, -34.1751, 39.4387}, 1.2644},
        {{63.0109, -31.0961, -5.8663}, {62.8187, -29.7946, -4.0864}, 1.2630},
        {{61.2901, 3.7196, -5.3901}, {61.4292, 2.2480, -4.9620}, 1.8731},
        {{35.0831, -44.1164, 3.7933}, {35.0232, -40.0716, 1.5901}, 1.8645},
        {{22.7233, 20.0904, -46.6940}, {23.0331, 14.9730, -42.5619}, 2.0373},
        {{36.4612, 47.8580, 18.3852}, {36.2715, 50.5065, 21.2231}, 1.4146},
        {{90.8027, -2.0831, 1.4410}, {91.1528, -1.6435, 0.0447}, 1.4441},
        {{90.9257, -0.5406, -0.9208}, {88.6381, -0.8985, -0.7239}, 1.5381},
        {{6.7747, -0.2908, -2.4247}, {5.8714, -0.0985, -2.2286}, 0.6377},
        {{2.0776, 0.0795, -1.1350}, {0.9033, -0.0636, -0.5514}, 0.9082},
    };
    int number = 0;
    for (const auto& p : pairs) {
        ++number;
        // The published values are rounded to four decimals.
        EXPECT_NEAR(DeltaE00(p.first, p.second), p.deltaE00, 0.00005) << "pair " << number;
        EXPECT_NEAR(DeltaE00(p.second, p.first), p.deltaE00, 0.00005) << "pair " << number << " swapped";
    }
}

// A curve in %, as a driver reporting on this grid would give it.
CheckedCurve CurveOn(double first, double last, double step, double (*percentAt)(double nm)) {
    std::vector<double> nm, percent;
    for (double w = first; w <= last + 1e-9; w += step) {
        nm.push_back(w);
        percent.push_back(percentAt(w));
    }
    CurveCheck check = CheckCurve(nm, percent, ReflectanceScale::Percent);
    EXPECT_TRUE(check.curve) << check.problem;
    return *check.curve;
}

double Blue(double nm) { return 8 + 40 * std::exp(-std::pow((nm - 470) / 45, 2)); }
double Red(double nm) { return 5 + 85 / (1 + std::exp((600 - nm) / 15)); }
double White(double) { return 100; }
double Grey18(double) { return 18; }
double Black(double) { return 0; }
double GreenSpike(double nm) { return std::fabs(nm - 520) < 6 ? 90 : 0; }

TEST(Colorimetry, PerfectWhiteIsLabWhiteAndTheDriversGridHardlyMatters) {
    for (const Condition condition :
         {Condition{Illuminant::D50, Observer::TwoDegree}, Condition{Illuminant::D50, Observer::TenDegree},
          Condition{Illuminant::D65, Observer::TwoDegree}, Condition{Illuminant::D65, Observer::TenDegree}}) {
        const auto white = ColourOf(CurveOn(400, 700, 10, White), condition);
        ASSERT_TRUE(white.colour);
        EXPECT_NEAR(white.colour->xyz.y, 100, 1e-9);
        EXPECT_NEAR(white.colour->lab.l, 100, 1e-9);
        EXPECT_NEAR(white.colour->lab.a, 0, 1e-9);
        EXPECT_NEAR(white.colour->lab.b, 0, 1e-9);

        // The tables' own 5 nm rows, the simulator's 10 nm, and steps between the rows.
        const Lab reference = ColourOf(CurveOn(380, 780, 5, Blue), condition).colour->lab;
        for (const CheckedCurve& other :
             {CurveOn(400, 700, 10, Blue), CurveOn(360, 830, 1, Blue), CurveOn(400, 700.5, 2.5, Blue)})
            EXPECT_LT(DeltaEab(reference, ColourOf(other, condition).colour->lab), 0.2)
                << ConditionName(condition) << ", steps of " << other.step << " nm";
    }
    // Beyond the reported wavelengths the end values hold: as if the driver had reported them.
    const Lab reported = ColourOf(CurveOn(400, 700, 10, Red), {}).colour->lab;
    const Lab held =
        ColourOf(CurveOn(380, 780, 10, [](double nm) { return Red(std::clamp(nm, 400.0, 700.0)); }), {}).colour->lab;
    EXPECT_LT(DeltaEab(reported, held), 1e-9);

    const auto narrow = ColourOf(CurveOn(420, 680, 10, Blue), {});
    EXPECT_FALSE(narrow.colour);
    EXPECT_EQ(narrow.problem, "the wavelengths cover 420..680 nm; a colour needs at least 400..700 nm");
}

TEST(Colorimetry, SrgbIsEncodedAndClippedColoursAreMarked) {
    const auto srgb = [](double (*percentAt)(double)) {
        return SrgbOf(*ColourOf(CurveOn(400, 700, 10, percentAt), {Illuminant::D65, Observer::TwoDegree}).colour);
    };
    const struct {
        double (*curve)(double);
        int r, g, b;
        bool clipped;
    } cases[] = {
        {White, 255, 255, 255, false},
        {Black, 0, 0, 0, false},
        {Grey18, 118, 118, 118, false},  // the sRGB curve, not a plain 2.2 power (which gives 117)
        {GreenSpike, 0, 255, 0, true},
    };
    for (const auto& c : cases) {
        const Srgb s = srgb(c.curve);
        EXPECT_EQ(s.clipped, c.clipped) << s.r << " " << s.g << " " << s.b;
        // A colour outside the gamut keeps only its sense.
        if (c.clipped) {
            EXPECT_GT(s.g, std::max(s.r, s.b)) << s.r << " " << s.g << " " << s.b;
        } else {
            EXPECT_EQ((std::array<int, 3>{s.r, s.g, s.b}), (std::array<int, 3>{c.r, c.g, c.b}));
        }
    }
}

// A driver whose answers are given per request, everything else "OK|0".
struct FakeDriver {
    std::map<std::string, std::string> answers;
    std::optional<std::string> operator()(const std::string& request) const {
        const auto found = answers.find(request);
        return found != answers.end() ? found->second : "OK|0";
    }
};

FakeDriver SpectrometerWith(int wavelengths, const std::string& curve) {
    FakeDriver driver;
    driver.answers["GetWavelengths|"] = "OK|" + std::to_string(wavelengths);
    for (int i = 0; i < wavelengths; ++i)
        driver.answers["GetWavelengthValue|" + std::to_string(i) + "|"] = "OK|" + std::to_string(400 + 10 * i);
    driver.answers["GetAngleValue|1|"] = "OK|15";
    driver.answers["GetSpectralDataAll|1|"] = "OK|" + curve;
    return driver;
}

std::string FlatCurve(int count, const std::string& value, int odd = -1, const std::string& oddValue = "") {
    std::string curve;
    for (int i = 0; i < count; ++i) curve += (i ? ";" : "") + (i == odd ? oddValue : value);
    return curve;
}

TEST(Session, CompareRefusesAnAngleCountNoInstrumentHas) {
    FakeDriver driver;
    driver.answers["GetAngles|"] = "OK|2147483647";
    std::ostringstream out, diagnostics;
    Session session(driver, SessionOptions{}, out, diagnostics);
    session.RunLine(":compare 0 1", "--compare");
    EXPECT_EQ(session.Finish(), kExitErrorResponse);
    EXPECT_NE(diagnostics.str().find("no angles to compare: the driver reports 2147483647 angles"), std::string::npos)
        << diagnostics.str();
}

TEST(Session, ShowsColourForGoodCurvesAndSaysWhyNotForBadOnes) {
    const struct {
        const char* name;
        FakeDriver driver;
        const char* diagnostic;  // "" = colour shown
    } cases[] = {
        {"good", SpectrometerWith(31, FlatCurve(31, "50")), ""},
        {"no wavelengths", SpectrometerWith(0, FlatCurve(31, "50")), "the driver reports no wavelengths"},
        {"count mismatch", SpectrometerWith(30, FlatCurve(31, "50")), "31 values for 30 wavelengths"},
        {"NaN", SpectrometerWith(31, FlatCurve(31, "50", 3, "nan")), "the value at 430 nm is not a number (nan)"},
        {"infinite", SpectrometerWith(31, FlatCurve(31, "50", 3, "inf")), "the value at 430 nm is infinite (inf)"},
        {"negative", SpectrometerWith(31, FlatCurve(31, "50", 0, "-2")), "the value at 400 nm is negative (-2)"},
        {"absurd", SpectrometerWith(31, FlatCurve(31, "50", 30, "5000")), "the value at 700 nm is 5000 %, above 200 %"},
        {"absurd wavelengths", SpectrometerWith(100, FlatCurve(100, "50")), "outside 360..830 nm"},
    };
    for (const auto& c : cases) {
        std::ostringstream out, diagnostics;
        SessionOptions options;
        options.colour = true;
        Session session(c.driver, options, out, diagnostics);
        session.RunLine("GetSpectralDataAll|1|", "line 1");
        EXPECT_EQ(session.Finish(), kExitOk) << c.name;
        const std::string text = out.str();
        if (*c.diagnostic == '\0') {
            EXPECT_EQ(diagnostics.str(), "") << c.name;
            const std::size_t d50 = text.find("D50/2°"), d65 = text.find("D65/10°");
            EXPECT_LT(d50, d65) << text;
            EXPECT_NE(d65, std::string::npos) << text;
            EXPECT_NE(text.find("L*  76.07  a*   0.00  b*   0.00"), std::string::npos) << text;
            EXPECT_NE(text.find("sRGB      #BCBCBC (D65/2°)\n"), std::string::npos) << text;
        } else {
            EXPECT_EQ(text.find("L*"), std::string::npos) << c.name << "\n" << text;
            EXPECT_EQ(diagnostics.str().find("nelko-console: line 1: no colour or plot: "), 0u) << diagnostics.str();
            EXPECT_NE(diagnostics.str().find(c.diagnostic), std::string::npos) << c.name << ": " << diagnostics.str();
        }
    }
}

}  // namespace

namespace test_run {

using nelko::test::RunConsole;

const std::vector<std::string> kTwoMeasurements{
    "Init|NelkoSimulator|", "Connect|", "Calibrate|", "CalibrateStep|Black|", "CalibrateStep|White|",
    "CalibrateStep|Green|", "Measure|", "Measure|",   "GetSpectralDataAll|1|"};

std::vector<std::string> With(std::vector<std::string> options) {
    options.insert(options.end(), kTwoMeasurements.begin(), kTwoMeasurements.end());
    return options;
}

TEST(ConsoleColour, ConditionsSwatchAndComparisonAsAsked) {
    const auto both = RunConsole(With({"--colour"}));
    EXPECT_EQ(both.exitCode, 0) << both.err;
    EXPECT_NE(both.out.find("D50/2°"), std::string::npos);
    EXPECT_NE(both.out.find("D65/10°"), std::string::npos);
    // Output to a pipe never gets escape sequences unless asked to.
    EXPECT_EQ(both.out.find("\x1b["), std::string::npos);

    const auto one = RunConsole(With({"--colour", "--illuminant", "d65", "--observer", "10", "--swatch", "always"}));
    EXPECT_EQ(one.out.find("D50/2°"), std::string::npos) << one.out;
    EXPECT_NE(one.out.find("D65/10°"), std::string::npos) << one.out;
    EXPECT_NE(one.out.find("\x1b[48;2;"), std::string::npos) << one.out;

    const auto compared = RunConsole(With({"--compare", "0", "1"}));
    EXPECT_EQ(compared.exitCode, 0) << compared.err;
    for (const char* angle : {"-15°", "15°", "25°", "45°", "75°", "110°"})
        EXPECT_NE(compared.out.find(std::string("sample 1 against sample 0, ") + angle + ":\n    D50/2°"),
                  std::string::npos)
            << angle << compared.out;

    const auto missing = RunConsole(With({"--compare", "0", "7"}));
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("no comparison: the driver has no sample 7"), std::string::npos) << missing.err;
    EXPECT_EQ(missing.out.find("ΔE"), std::string::npos) << missing.out;
}

// The console's own requests for --colour and --plot leave what the script sees as it is,
// and a refused read is a failure, never a black colour.
TEST(ConsoleColour, ColourAndPlotDoNotChangeTheScriptsAnswers) {
    const std::vector<std::string> script{"Init|NelkoSimulator|", "Connect|", "GetSpectralDataAll|9|",
                                          "GetLastErrorCode|", "GetLastErrorString|"};
    const std::string plot = nelko::test::TemporaryFile("refused.svg");
    std::vector<std::string> withColour{"--colour", "--plot", plot};
    withColour.insert(withColour.end(), script.begin(), script.end());
    const auto plain = RunConsole(script);
    const auto coloured = RunConsole(withColour);
    std::filesystem::remove(plot);
    EXPECT_EQ(coloured.out, plain.out);
    EXPECT_EQ(plain.out.find("> GetLastErrorCode|\n< OK|0\n"), std::string::npos) << plain.out;
    EXPECT_NE(coloured.err.find("no colour or plot: the driver refused the read of angle 9"), std::string::npos)
        << coloured.err;

    const auto refused = RunConsole({"--colour", "Init|NelkoSimulator|", "Connect|", ":colour 1"});
    EXPECT_EQ(refused.exitCode, 1) << refused.out;
    EXPECT_EQ(refused.out.find("#000000"), std::string::npos) << refused.out;
}

TEST(ConsoleColour, ANegativeSampleIndexEndsTheRunBeforeAnyRequest) {
    const auto run = RunConsole({"--compare", "-1", "2", "Hello"});
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("\"-1\" is not a sample index"), std::string::npos) << run.err;
}

}  // namespace test_run
}  // namespace nelko::console
