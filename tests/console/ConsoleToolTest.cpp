// nelko-console as a user runs it: built executable, real add-in, simulated instrument.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "RunConsole.h"

namespace nelko::test {
namespace {

namespace fs = std::filesystem;

int CountOccurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

// The wavelength labels of the chart bars, in output order.
std::vector<int> BarLabels(const std::string& out) {
    static const std::regex bar(R"(^ *(\d+) nm \|)");
    std::vector<int> labels;
    std::istringstream lines(out);
    std::smatch match;
    for (std::string line; std::getline(lines, line);)
        if (std::regex_search(line, match, bar)) labels.push_back(std::stoi(match[1]));
    return labels;
}

TEST(ConsoleTool, DemoSessionRunsToTheEndAndShowsTheCalibratedMeasurement) {
    const ConsoleRun run = RunConsole({"--chart", "--script", "demo-session.txt"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(CountOccurrences(run.out, "\n< ERROR"), 0);
    EXPECT_NE(run.out.find("> CalibrateStep|Green|\n< OK|true\n> GetCalStatus|\n< OK|2\n"), std::string::npos);
    // The simulator's documented first measurement at 15 degrees, 480 nm, with SCI.
    EXPECT_NE(run.out.find("> GetSpectralData|1|8|\n< OK|47.79895\n"), std::string::npos);
    EXPECT_NE(run.out.find("> Disconnect|\n< OK|true\n"), std::string::npos);
    EXPECT_EQ(BarLabels(run.out).size(), 2u * 31u);
}

TEST(ConsoleTool, ChartDrawsOneBarPerWavelengthForSuccessfulGetSpectralDataAll) {
    const std::vector<std::string> measured{
        "Init|NelkoSimulator|", "Connect|", "Calibrate|",           "CalibrateStep|Black|", "CalibrateStep|White|",
        "CalibrateStep|Green|", "Measure|", "GetSpectralData|1|8|", "GetSpectralDataAll|1|"};
    std::vector<int> wavelengths;
    for (int nm = 400; nm <= 700; nm += 10) wavelengths.push_back(nm);
    auto with = [&measured](std::vector<std::string> options) {
        options.insert(options.end(), measured.begin(), measured.end());
        return RunConsole(options);
    };

    const ConsoleRun charted = with({"--chart", "--unicode"});
    EXPECT_EQ(charted.exitCode, 0) << charted.err;
    EXPECT_EQ(BarLabels(charted.out), wavelengths);
    EXPECT_NE(charted.out.find("\u2588"), std::string::npos);
    EXPECT_TRUE(BarLabels(with({}).out).empty());

    const ConsoleRun failed = RunConsole({"--chart", "--keep-going", "Init|NelkoSimulator|", "GetSpectralDataAll|"});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_TRUE(BarLabels(failed.out).empty());
}

TEST(ConsoleTool, PlotWritesTheSessionsCurvesAsSvgAndAnUnwritablePlotIsAFailure) {
    const std::string plot = TemporaryFile("curves.svg");
    const ConsoleRun run = RunConsole({"--plot", plot, "Init|NelkoSimulator|", "Connect|", "Calibrate|",
                                       "CalibrateStep|Black|", "CalibrateStep|White|", "CalibrateStep|Green|",
                                       "Measure|", "GetSpectralDataAll|1|", "GetSpectralDataAll|5|"});
    std::ifstream file(plot);
    std::stringstream svg;
    svg << file.rdbuf();
    file.close();
    fs::remove(plot);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(CountOccurrences(svg.str(), "<polyline"), 2) << svg.str();
    EXPECT_NE(svg.str().find(">15° (measurement 1)</text>"), std::string::npos) << svg.str();
    EXPECT_NE(svg.str().find(">110° (measurement 1)</text>"), std::string::npos) << svg.str();
    EXPECT_NE(run.err.find("2 curves plotted in"), std::string::npos) << run.err;

    const ConsoleRun unwritable = RunConsole({"--plot", "missing-folder/curves.svg", "Hello"});
    EXPECT_EQ(unwritable.exitCode, 2);
    EXPECT_NE(unwritable.err.find("cannot write the plot"), std::string::npos) << unwritable.err;
}

struct StopCase {
    const char* name;
    std::vector<std::string> arguments;
    int exitCode;
    int helloRuns;      // how many "Hello" exchanges happened
    const char* error;  // expected on standard error ("" = nothing)
};
// Names the case in ctest's listing instead of dumping its bytes.
void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class StopOnError : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopOnError, StopsAtTheFirstErrorResponseUnlessToldToKeepGoing) {
    const StopCase& c = GetParam();
    const ConsoleRun run = RunConsole(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
    EXPECT_EQ(CountOccurrences(run.out, "> Hello\n< OK|Hello\n"), c.helloRuns) << run.out;
    EXPECT_EQ(run.err.empty(), *c.error == '\0') << run.err;
    EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StopOnError,
    ::testing::Values(
        StopCase{"AllOk", {"Hello", "Hello"}, 0, 2, ""},
        StopCase{"ErrorStops", {"Hello", "Bogus|", "Hello"}, 1, 1, "argument 2: ERROR response to Bogus|"},
        StopCase{"KeepGoingRunsOn", {"--keep-going", "Hello", "Bogus|", "Hello"}, 1, 2, "1 of 3 requests failed"},
        StopCase{"MissingParameterIsAnError", {"Hello", "GetSpectralData|0|", "Hello"}, 1, 1, "GetSpectralData|0|"},
        // A driver's refusal is an answer, not an ERROR response.
        StopCase{"RefusalIsNoError", {"Init|NelkoSimulator|", "Measure|", "Hello"}, 0, 1, ""}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct UnusableCase {
    const char* name;
    std::vector<std::string> arguments;
    const char* message;  // part of what standard error must say
};
void PrintTo(const UnusableCase& c, std::ostream* os) { *os << c.name; }

class Unusable : public ::testing::TestWithParam<UnusableCase> {};

TEST_P(Unusable, ExitsWithTwoAndSaysWhyWithoutRunningAnything) {
    std::vector<std::string> arguments = GetParam().arguments;
    arguments.emplace_back("Hello");
    const ConsoleRun run = RunConsole(arguments);
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Unusable,
    ::testing::Values(UnusableCase{"NoSuchLibrary", {"--library", "missing/NoAddin.so"}, "NoAddin.so"},
                      UnusableCase{"NotALibrary", {"--library", "demo-session.txt"}, "demo-session.txt"},
                      UnusableCase{"LibraryWithoutTheExport",
                                   {"--library", NELKO_SIMULATOR_FILE_NAME},
                                   "has no export SimulationExecute"},
                      UnusableCase{"NoSuchScript", {"--script", "missing-script.txt"}, "missing-script.txt"},
                      UnusableCase{"NoSuchDriverFolder", {"--driver-dir", "missing-folder"}, "missing-folder"},
                      UnusableCase{"UnknownOption", {"--bogus"}, "--bogus"},
                      UnusableCase{"ScriptIsAFolder", {"--script", "."}, "cannot open the script ."},
                      // Found before the first request, not after the measurements.
                      UnusableCase{"UnwritablePlot", {"--plot", "missing-folder/c.svg"}, "cannot write the plot"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(ConsoleTool, PrintsExchangesFromEveryKindOfInputInOrder) {
    const std::string typed = "Hello\n\n   # a comment\r\n  Init|NelkoSimulator|  \r\nGetAngles|";
    const std::string shown = "> Hello\n< OK|Hello\n> Init|NelkoSimulator|\n< OK\n> GetAngles|\n< OK|6\n";
    const struct {
        std::vector<std::string> arguments;
        std::string input;
        std::string out;
    } cases[] = {
        {{}, typed, shown},
        {{"--script", "-"}, typed, shown},
        {{"Hello", "Init|NelkoSimulator|", "GetAngles|"}, "ignored", shown},
        {{"--quiet", "Hello", "Init|NelkoSimulator|", "GetAngles|"}, "", "OK|Hello\nOK\nOK|6\n"},
        {{"--quiet", "--script", "-", "Init|NelkoSimulator|"}, "GetAngles|\n", "OK\nOK|6\n"},
    };
    for (const auto& c : cases) {
        const ConsoleRun run = RunConsole(c.arguments, c.input);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, c.out);
    }
}

TEST(ConsoleTool, RunFromAnotherFolderFindsTheAddinAndItsDriversAndTheRelativeScript) {
    const fs::path folder = fs::path(TemporaryFile("elsewhere"));
    fs::create_directories(folder);
    WriteTextFile((folder / "session.txt").string(), "Init|NelkoSimulator|\nExecute|Version|\n");
    const ConsoleRun run = RunConsole({"--quiet", "--script", "session.txt"}, "", folder.string());
    fs::remove_all(folder);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "OK\nOK|NelkoSimulator 1.0.0 (firmware 2.3.1)\n");
}

}  // namespace
}  // namespace nelko::test
