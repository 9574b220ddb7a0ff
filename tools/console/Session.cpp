#include "Session.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <utility>

#include "RequestLine.h"
#include "command/RequestText.h"

namespace nelko::console {
namespace {

constexpr std::string_view kOkWithText = "OK|";
// More wavelengths or angles than any spectrometer reports: a driver answering this is broken.
constexpr int kMostWavelengths = 1000;
constexpr int kMostAngles = 100;

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

std::optional<int> WholeNumber(std::string_view text) {
    int value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc{} || result.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

// The parameter of a request such as "GetSpectralDataAll|1|".
std::optional<int> FirstParameter(std::string_view request) {
    const std::size_t bar = request.find('|');
    if (bar == std::string_view::npos) return std::nullopt;
    const std::string_view rest = request.substr(bar + 1);
    return WholeNumber(rest.substr(0, rest.find('|')));
}

// A number a driver answered, as it would write it.
std::string Shown(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

}  // namespace

Session::Session(Executor execute, SessionOptions options, std::ostream& out, std::ostream& diagnostics)
    : execute_(std::move(execute)), options_(std::move(options)), out_(out), diagnostics_(diagnostics) {}

bool Session::RunLine(std::string_view line, const std::string& where) {
    if (stopped_) return false;
    const std::optional<std::string> request = RequestOnLine(line);
    if (!request) return true;

    ++requests_;
    if (options_.echoRequests) out_ << "> " << *request << '\n';
    // Shown before the add-in runs, so that a request that hangs or crashes is visible.
    out_.flush();
    if (StartsWith(*request, ":")) {
        RunConsoleCommand(*request, where);
        out_.flush();
        return !stopped_;
    }
    const std::optional<std::string> response = execute_(*request);
    if (!response) {
        Fail(*request, where, "no response delivered");
        return !stopped_;
    }

    out_ << (options_.bareResponses ? "" : "< ") << *response << '\n';
    const std::string_view command = GetCommandName(*request);
    if (command == "Measure" && *response == "OK|true") ++measurements_;
    if (command == "GetSpectralDataAll" && StartsWith(*response, kOkWithText)) {
        const std::string values = response->substr(kOkWithText.size());
        if (options_.chart) {
            if (const auto chart = RenderCurveChart(values, options_.chartStyle))
                out_ << *chart;
            else
                Note(where, "no chart: the response is not a list of numbers");
        }
        if (options_.colour || !options_.plotFile.empty()) {
            // A refused read answers zeros like a real one; its error code tells, and reading
            // the code leaves it as the script will see it.
            std::string refusal;
            if (Refused("the read of angle " + std::to_string(FirstParameter(*request).value_or(-1)), refusal))
                Note(where, "no colour or plot: " + refusal);
            else
                ShowCurve(values, FirstParameter(*request).value_or(-1), "measurement " + std::to_string(measurements_),
                          where);
        }
    }
    out_.flush();

    if (StartsWith(*response, "ERROR")) Fail(*request, where, "ERROR response");
    return !stopped_;
}

void Session::ShowCurve(const std::string& values, int angle, const std::string& source, const std::string& where) {
    std::string problem;
    const auto numbers = ParseNumberList(values);
    if (!numbers) return Note(where, "no colour or plot: the response is not a list of numbers");
    const auto curve = Checked(*numbers, problem);
    if (!curve) return Note(where, "no colour or plot: " + problem);
    Plot(*curve, angle, source);
    if (options_.colour) ShowColour(*curve, where);
}

void Session::Plot(const CheckedCurve& curve, int angle, const std::string& source) {
    if (options_.plotFile.empty()) return;
    PlotCurve plotted{AngleName(angle) + " (" + source + ")", curve.wavelengths, {}};
    for (const double factor : curve.factors) plotted.percent.push_back(factor * 100);
    plotCurves_.push_back(std::move(plotted));
}

bool Session::ShowColour(const CheckedCurve& curve, const std::string& where) {
    std::string problem;
    const auto text = ColourText(curve, options_.colourSettings, problem);
    if (!text) {
        Note(where, "no colour: " + problem);
        return false;
    }
    out_ << *text;
    return true;
}

void Session::RunConsoleCommand(const std::string& command, const std::string& where) {
    const std::vector<std::string> words = Words(command);
    std::vector<int> numbers;
    for (std::size_t i = 1; i < words.size(); ++i) {
        const auto number = WholeNumber(words[i]);
        if (!number || *number < 0) return Fail(command, where, "\"" + words[i] + "\" is not an index");
        numbers.push_back(*number);
    }
    std::string problem;
    if (words[0] == ":colour" && (numbers.size() == 1 || numbers.size() == 2)) {
        const int angle = numbers[0];
        std::optional<CheckedCurve> curve;
        std::string source = "last measurement";
        if (numbers.size() == 2) {
            curve = SampleCurve(numbers[1], angle, problem);
            source = "sample " + std::to_string(numbers[1]);
        } else if (const auto values = Ask("GetSpectralDataAll|" + std::to_string(angle) + "|", problem)) {
            if (Refused("the read of angle " + std::to_string(angle), problem)) {
                // no curve: the driver answered zeros for a read it refused
            } else if (const auto parsed = ParseNumberList(*values)) {
                curve = Checked(*parsed, problem);
            } else {
                problem = "GetSpectralDataAll did not answer a list of numbers";
            }
        }
        if (!curve) return Fail(command, where, "no colour: " + problem);
        out_ << "  " << AngleName(angle) << ", " << source << ":\n";
        Plot(*curve, angle, source);
        if (!ShowColour(*curve, where)) Fail(command, where, "no colour");
        return;
    }
    if (words[0] == ":compare" && (numbers.size() == 2 || numbers.size() == 3)) {
        std::vector<int> angles;
        if (numbers.size() == 3) {
            angles.push_back(numbers[2]);
        } else {
            const auto count = AskNumber("GetAngles|", problem);
            if (count && (*count < 1 || *count > kMostAngles || *count != static_cast<int>(*count)))
                problem = "the driver reports " + Shown(*count) + " angles";
            if (!count || !problem.empty()) return Fail(command, where, "no angles to compare: " + problem);
            for (int angle = 0; angle < static_cast<int>(*count); ++angle) angles.push_back(angle);
        }
        for (const int angle : angles) {
            const auto reference = SampleCurve(numbers[0], angle, problem);
            const auto sample = reference ? SampleCurve(numbers[1], angle, problem) : std::nullopt;
            const auto text =
                sample ? DifferenceText(*reference, *sample, options_.colourSettings, problem) : std::nullopt;
            if (!text) return Fail(command, where, "no comparison: " + problem);
            out_ << "  sample " << numbers[1] << " against sample " << numbers[0] << ", " << AngleName(angle) << ":\n"
                 << *text;
        }
        return;
    }
    Fail(command, where,
         "unknown console command; there are :colour ANGLE [SAMPLE] and :compare SAMPLE SAMPLE [ANGLE]");
}

std::optional<std::string> Session::Ask(const std::string& request, std::string& problem) {
    const std::optional<std::string> response = execute_(request);
    if (response && StartsWith(*response, kOkWithText)) return response->substr(kOkWithText.size());
    problem = request + " was answered " + (response ? *response : std::string("with nothing"));
    return std::nullopt;
}

std::optional<double> Session::AskNumber(const std::string& request, std::string& problem) {
    const auto text = Ask(request, problem);
    if (!text) return std::nullopt;
    const auto numbers = ParseNumberList(*text);
    if (!numbers || numbers->size() != 1) {
        problem = request + " was answered OK|" + *text + ", not a number";
        return std::nullopt;
    }
    return numbers->front();
}

std::optional<std::vector<double>> Session::Wavelengths(std::string& problem) {
    const auto count = AskNumber("GetWavelengths|", problem);
    if (!count) return std::nullopt;
    if (*count < 1 || *count > kMostWavelengths || *count != static_cast<int>(*count)) {
        problem = *count < 1 ? "the driver reports no wavelengths"
                             : "the driver reports " + std::to_string(*count) + " wavelengths";
        return std::nullopt;
    }
    std::vector<double> wavelengths;
    for (int i = 0; i < static_cast<int>(*count); ++i) {
        const auto nm = AskNumber("GetWavelengthValue|" + std::to_string(i) + "|", problem);
        if (!nm) return std::nullopt;
        wavelengths.push_back(*nm);
    }
    return wavelengths;
}

std::optional<CheckedCurve> Session::Checked(const std::vector<double>& values, std::string& problem) {
    const auto wavelengths = Wavelengths(problem);
    if (!wavelengths) return std::nullopt;
    CurveCheck check = CheckCurve(*wavelengths, values, options_.scale);
    if (!check.curve) problem = check.problem;
    return std::move(check.curve);
}

std::optional<CheckedCurve> Session::SampleCurve(int sample, int angle, std::string& problem) {
    const std::string select = "SetCurrentSample|" + std::to_string(sample) + "|";
    const auto selected = Ask(select, problem);
    if (!selected) return std::nullopt;
    if (*selected != "true") {
        problem = "the driver has no sample " + std::to_string(sample) + " (" + select + " was answered OK|" +
                  *selected + ")";
        return std::nullopt;
    }
    const auto wavelengths = Wavelengths(problem);
    if (!wavelengths) return std::nullopt;
    std::vector<double> values;
    for (std::size_t i = 0; i < wavelengths->size(); ++i) {
        const auto value = AskNumber("GetSampleData|" + std::to_string(angle) + "|" + std::to_string(i) + "|", problem);
        if (!value) return std::nullopt;
        values.push_back(*value);
    }
    // A refused read answers 0 like a real value would; the driver's error code tells.
    if (Refused("the read of sample " + std::to_string(sample) + " at angle " + std::to_string(angle), problem))
        return std::nullopt;
    CurveCheck check = CheckCurve(*wavelengths, values, options_.scale);
    if (!check.curve) problem = check.problem;
    return std::move(check.curve);
}

bool Session::Refused(const std::string& what, std::string& problem) {
    std::string ignored;
    const auto error = AskNumber("GetLastErrorCode|", ignored);
    if (!error || *error == 0) return false;
    problem =
        "the driver refused " + what + ": " + Ask("GetLastErrorString|", ignored).value_or("error " + Shown(*error));
    return true;
}

std::string Session::AngleName(int angle) {
    std::string ignored;
    const auto text = Ask("GetAngleValue|" + std::to_string(angle) + "|", ignored);
    return text && ParseNumberList(*text) ? *text + "°" : "angle " + std::to_string(angle);
}

void Session::Note(const std::string& where, const std::string& what) {
    out_.flush();
    diagnostics_ << options_.program << ": " << where << ": " << what << '\n';
}

void Session::Fail(const std::string& request, const std::string& where, const std::string& what) {
    ++failures_;
    if (!options_.keepGoing) stopped_ = true;
    Note(where, what + " to " + request + (options_.keepGoing ? "" : "; stopped (--keep-going runs on)"));
}

int Session::Finish() {
    if (!options_.plotFile.empty()) {
        std::ofstream plot(options_.plotFile, std::ios::binary);
        plot << RenderSvgPlot(plotCurves_, "Reflectance curves of the session");
        plot.close();
        if (!plot) {
            diagnostics_ << options_.program << ": cannot write the plot " << options_.plotFile << '\n';
            return kExitUnusable;
        }
        diagnostics_ << options_.program << ": " << plotCurves_.size() << " curves plotted in " << options_.plotFile
                     << '\n';
    }
    if (failures_ == 0) return kExitOk;
    if (options_.keepGoing)
        diagnostics_ << options_.program << ": " << failures_ << " of " << requests_ << " requests failed\n";
    return kExitErrorResponse;
}

}  // namespace nelko::console
