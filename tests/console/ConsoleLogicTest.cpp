// The console's logic without the executable: input lines, charts, buffer growth, and
// which responses a session draws or counts as failures.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "AddinLibrary.h"
#include "RequestLine.h"
#include "Session.h"
#include "CurveChart.h"
#include "Reflectance.h"
#include "SvgPlot.h"

namespace nelko::console {
namespace {

int CountOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

TEST(RequestOnLine, KeepsTheRequestAndDropsWhatEditorsAndIndentationAdd) {
    const struct {
        const char* line;
        std::optional<std::string> request;
    } cases[] = {
        {"Hello", "Hello"},
        {"  GetSpectralData|0|5|\t\r", "GetSpectralData|0|5|"},
        {"\xEF\xBB\xBFInit|NelkoSimulator|", "Init|NelkoSimulator|"},
        {"Execute|#1|", "Execute|#1|"},  // '#' only starts a comment first
        {"", std::nullopt},
        {"# Connect first", std::nullopt},
        {"   #Measure|", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(RequestOnLine(c.line), c.request) << c.line;
}

TEST(CurveChart, ScalesBarsToTheLargestValueInFixedWidthColumns) {
    const struct {
        const char* values;
        bool unicode;
        int width;
        const char* chart;
    } cases[] = {
        {"10;20;40;0", false, 8,
         "  full bar = 40\n  400 nm |##       10\n  410 nm |####     20\n  420 nm |######## 40\n  430 nm |         "
         "0\n"},
        // Eighth cells; a multi-byte character still takes one column.
        {"1;2;15;16", true, 2,
         "  full bar = 16\n  400 nm |\u258F  1\n  410 nm |\u258E  2\n  420 nm |\u2588\u2589 15\n  430 nm |\u2588\u2588 "
         "16\n"},
        {"0;-3", false, 4, "  full bar = 0 (no positive values)\n  400 nm |     0\n  410 nm |     -3\n"},
    };
    for (const auto& c : cases) {
        ChartStyle style;
        style.unicode = c.unicode;
        style.width = c.width;
        EXPECT_EQ(RenderCurveChart(c.values, style), std::optional<std::string>(c.chart)) << c.values;
    }
}

TEST(CurveChart, RefusesTextsThatAreNotNumberLists) {
    for (const char* text : {"", "1;;2", "1;2;", "1;abc", "12.5x", "nan", "1e999", "true"})
        EXPECT_FALSE(RenderCurveChart(text)) << text;
}

TEST(CheckCurve, ReadsPercentOrFactorsAndRefusesGridsNoColourCanBeSummedOver) {
    const std::vector<double> nm{400, 410, 420};
    const auto percent = CheckCurve(nm, {10, 50, 90});
    ASSERT_TRUE(percent.curve);
    EXPECT_EQ(percent.curve->factors, (std::vector<double>{0.1, 0.5, 0.9}));
    EXPECT_TRUE(percent.curve->scaleDetected);
    const auto factors = CheckCurve(nm, {0.1, 0.5, 0.9});
    EXPECT_EQ(factors.curve->scale, ReflectanceScale::Fraction);
    EXPECT_EQ(factors.curve->factors, (std::vector<double>{0.1, 0.5, 0.9}));
    // A very dark sample in percent looks like factors: the user says which.
    const auto named = CheckCurve(nm, {0.5, 1, 1.2}, ReflectanceScale::Percent);
    EXPECT_EQ(named.curve->factors[1], 0.01);
    EXPECT_FALSE(named.curve->scaleDetected);

    const struct {
        std::vector<double> wavelengths;
        const char* problem;
    } grids[] = {
        {{400, 420, 410}, "the wavelengths do not rise at 410 nm"},
        {{400, 410, 415}, "the wavelengths are not evenly spaced at 415 nm"},
        {{400, 420, 440}, "steps of 20 nm are coarser than 10 nm"},
        {{350, 360, 370}, "wavelength 0 is 350 nm, outside 360..830 nm"},
    };
    for (const auto& g : grids) {
        const auto check = CheckCurve(g.wavelengths, {1, 2, 3});
        EXPECT_FALSE(check.curve) << g.problem;
        EXPECT_EQ(check.problem, g.problem);
    }
}

TEST(SvgPlot, OneLabelledLinePerCurveWithEscapedLabelsAndANoteWhenEmpty) {
    const std::string svg = RenderSvgPlot(
        {{"15° <gloss> & \"flop\"", {400, 410, 420}, {10, 40, 20}}, {"110°", {400, 410, 420}, {5, 6, 7}}}, "T");
    EXPECT_EQ(CountOf(svg, "<polyline"), 2);
    EXPECT_NE(svg.find(">15° &lt;gloss&gt; &amp; &quot;flop&quot;</text>"), std::string::npos) << svg;
    EXPECT_EQ(svg.find("<gloss>"), std::string::npos);
    // 400 nm at the left edge, 420 nm at the right, 40 % (the top of the scale) at the top.
    EXPECT_NE(svg.find("points=\"70.0,357.5 330.0,50.0 590.0,255.0\""), std::string::npos) << svg;
    EXPECT_NE(svg.find(">Wavelength (nm)<"), std::string::npos);
    EXPECT_NE(svg.find(">Reflectance (%)<"), std::string::npos);
    EXPECT_NE(RenderSvgPlot({}, "T").find("No curves were measured"), std::string::npos);
}

// Every curve keeps a look of its own and its legend entry inside the picture, however many.
TEST(SvgPlot, ManyCurvesStayDistinctAndInsideThePicture) {
    const std::vector<PlotCurve> curves(41, PlotCurve{"c", {400, 410}, {10, 20}});
    const std::string svg = RenderSvgPlot(curves, "T");
    std::vector<std::string> looks;
    for (std::size_t at = svg.find("<polyline"); at != std::string::npos; at = svg.find("<polyline", at + 1))
        looks.push_back(svg.substr(at, svg.find(" points=", at) - at));
    ASSERT_EQ(looks.size(), 41u);
    for (std::size_t i = 0; i < 40; ++i)
        for (std::size_t j = i + 1; j < 40; ++j) EXPECT_NE(looks[i], looks[j]) << i + 1 << " and " << j + 1;
    // Beyond the distinct looks, numbers at the curves and in the legend tell them apart.
    EXPECT_NE(svg.find(">41</text>"), std::string::npos);
    const double height = std::stod(svg.substr(svg.find("height=\"") + 8));
    const std::size_t lastLegend = svg.rfind("<text x=\"642.0\" y=\"");
    EXPECT_LT(std::stod(svg.substr(lastLegend + 21)), height) << svg.substr(lastLegend);
}

// A stand-in for the add-in's SimulationExecute with a response of a chosen length, which
// records the buffer sizes it was offered.
std::size_t fakeResponseLength = 0;
std::vector<std::uint32_t> offeredSizes;

void FakeExecute(const char*, char* buffer, std::uint32_t bufferSize, std::uint32_t* responseLength) {
    offeredSizes.push_back(bufferSize);
    *responseLength = 0;
    if (fakeResponseLength >= bufferSize) return;  // the terminating NUL must fit as well
    std::memset(buffer, 'x', fakeResponseLength);
    buffer[fakeResponseLength] = '\0';
    *responseLength = static_cast<std::uint32_t>(fakeResponseLength);
}

TEST(ExecuteWithGrowingBuffer, DoublesTheBufferUpToTheLargestThenGivesUp) {
    constexpr std::uint32_t K = 1024;
    const struct {
        std::uint32_t length;
        std::vector<std::uint32_t> offered;
        bool delivered;
    } cases[] = {
        {64 * K - 1, {64 * K}, true},
        {64 * K, {64 * K, 128 * K}, true},
        {16 * K * K - 1, {64 * K, 128 * K, 256 * K, 512 * K, K * K, 2 * K * K, 4 * K * K, 8 * K * K, 16 * K * K}, true},
        {16 * K * K, {64 * K, 128 * K, 256 * K, 512 * K, K * K, 2 * K * K, 4 * K * K, 8 * K * K, 16 * K * K}, false},
    };
    for (const auto& c : cases) {
        fakeResponseLength = c.length;
        offeredSizes.clear();
        const auto response = support::ExecuteWithGrowingBuffer(FakeExecute, "Hello");
        EXPECT_EQ(offeredSizes, c.offered) << c.length;
        ASSERT_EQ(response.has_value(), c.delivered) << c.length;
        if (response) {
            EXPECT_EQ(*response, std::string(c.length, 'x'));
        }
    }
}

TEST(Session, DrawsOnlySuccessfulGetSpectralDataAllAndFailsOnlyOnErrorOrNoResponse) {
    const struct {
        const char* request;
        std::optional<std::string> response;
        bool charted;
        int exitCode;
        const char* diagnostic;  // "" = none
    } cases[] = {
        {"GetSpectralDataAll|1|", "OK|1;2;3", true, 0, ""},
        {"GetSpectralDataAll|1|", "OK|n/a", false, 0, "line 1: no chart"},
        {"GetSpectralDataAllX|1|", "OK|1;2;3", false, 0, ""},
        {"getspectraldataall|1|", "OK|1;2;3", false, 0, ""},  // the add-in does not know it either
        {"GetLastErrorString|", "OK|ERROR in step", false, 0, ""},
        {"Hello", "ERROR", false, 1, "line 1: ERROR response to Hello"},
        {"Hello", std::nullopt, false, 1, "line 1: no response delivered to Hello"},
    };
    for (const auto& c : cases) {
        std::ostringstream out, diagnostics;
        SessionOptions options;
        options.chart = true;
        Session session([&c](const std::string&) { return c.response; }, options, out, diagnostics);
        session.RunLine(c.request, "line 1");
        EXPECT_EQ(session.Finish(), c.exitCode) << c.request;
        EXPECT_EQ(out.str().find(" nm |") != std::string::npos, c.charted) << c.request << out.str();
        EXPECT_EQ(diagnostics.str().empty(), *c.diagnostic == '\0') << diagnostics.str();
        EXPECT_NE(diagnostics.str().find(c.diagnostic), std::string::npos) << diagnostics.str();
    }
}

// nelko-remote shares the session: its messages must name it, not nelko-console.
TEST(Session, APlotThatCannotBeWrittenAtTheEndIsNamedByTheProgramInUse) {
    std::ostringstream out, diagnostics;
    SessionOptions options;
    options.program = "nelko-remote";
    options.plotFile = ::testing::TempDir();  // a folder: the open for writing fails
    Session session([](const std::string&) { return std::optional<std::string>("OK"); }, options, out, diagnostics);
    EXPECT_EQ(session.Finish(), kExitUnusable);
    EXPECT_EQ(diagnostics.str().rfind("nelko-remote: cannot write the plot ", 0), 0u) << diagnostics.str();
}

}  // namespace
}  // namespace nelko::console
