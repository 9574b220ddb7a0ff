// A run of requests against the add-in: what is shown for each exchange, when to stop,
// and the exit code.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include <vector>

#include "ColourReport.h"
#include "CurveChart.h"
#include "SvgPlot.h"

namespace nelko::console {

inline constexpr int kExitOk = 0;
inline constexpr int kExitErrorResponse = 1;
inline constexpr int kExitUnusable = 2;

struct SessionOptions {
    std::string program = "nelko-console";  // names the messages on standard error
    bool keepGoing = false;                 // run on after an ERROR response
    bool echoRequests = true;               // "> REQUEST" before each response
    bool bareResponses = false;             // the response alone, without "< "
    bool chart = false;                     // draw the curves of GetSpectralDataAll
    ChartStyle chartStyle;
    bool colour = false;  // the CIE colour of GetSpectralDataAll curves
    ColourSettings colourSettings;
    std::optional<ReflectanceScale> scale;  // how the driver's values are meant; detected when not set
    std::string plotFile;                   // SVG of the session's curves, written by Finish
};

// Response text for a request; nothing when none was delivered.
using Executor = std::function<std::optional<std::string>(const std::string& request)>;

class Session {
public:
    Session(Executor execute, SessionOptions options, std::ostream& out, std::ostream& diagnostics);

    // Runs the request on the line, if it holds one, or the console's own command
    // (":colour ANGLE [SAMPLE]", ":compare SAMPLE SAMPLE [ANGLE]"). `where` names the line in
    // messages ("demo.txt:12"). False once the session has stopped.
    bool RunLine(std::string_view line, const std::string& where);

    // After the last line: writes the plot, reports the failures and gives the exit code.
    int Finish();

private:
    void Fail(const std::string& request, const std::string& where, const std::string& what);
    void Note(const std::string& where, const std::string& what);
    void RunConsoleCommand(const std::string& command, const std::string& where);
    void ShowCurve(const std::string& values, int angle, const std::string& source, const std::string& where);
    bool ShowColour(const CheckedCurve& curve, const std::string& where);
    void Plot(const CheckedCurve& curve, int angle, const std::string& source);

    // Requests the session makes itself, not shown: the text after "OK|", or nothing with
    // the reason in `problem`.
    std::optional<std::string> Ask(const std::string& request, std::string& problem);
    std::optional<double> AskNumber(const std::string& request, std::string& problem);
    std::optional<std::vector<double>> Wavelengths(std::string& problem);
    std::optional<CheckedCurve> Checked(const std::vector<double>& values, std::string& problem);
    std::optional<CheckedCurve> SampleCurve(int sample, int angle, std::string& problem);
    std::string AngleName(int angle);
    // Whether the driver refused the request just made (its error code is set); the reason
    // in `problem`. Reading the code and text does not change them.
    bool Refused(const std::string& what, std::string& problem);

    Executor execute_;
    SessionOptions options_;
    std::ostream& out_;
    std::ostream& diagnostics_;
    int requests_ = 0;
    int failures_ = 0;
    int measurements_ = 0;  // successful Measure requests, to tell curves apart in the plot
    bool stopped_ = false;
    std::vector<PlotCurve> plotCurves_;
};

}  // namespace nelko::console
