// Requests from arguments, a script, standard input or typed at a terminal, run through a
// backend, with their exchanges, charts, colours and plots.
#include "Frontend.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "ColourReport.h"
#include "Terminal.h"
#include "command/Commands.h"

namespace nelko::console {
namespace fs = std::filesystem;

namespace {

struct Settings {
    std::vector<std::string> requests;
    std::string script;
    bool keepGoing = false;
    bool quiet = false;
    bool chart = false;
    bool unicode = false;
    bool colour = false;
    std::string illuminant;
    std::string observer;
    std::vector<int> compare;
    std::string reflectance = "auto";
    std::string swatch = "auto";
    std::string plot;
};

// Terminals announce 24-bit colour this way; where they do not, escape sequences would
// show as garbage, and files and pipes get none.
bool TerminalShowsTrueColour() {
    const char* colorTerm = std::getenv("COLORTERM");
    const std::string value = colorTerm != nullptr ? colorTerm : "";
    return support::StandardOutputIsTerminal() && (value == "truecolor" || value == "24bit");
}

void AddColourOptions(CLI::App& app, Settings& settings) {
    if (*kColourUnavailable != '\0') return;
    app.add_flag("--colour,--color", settings.colour,
                 "Show CIE XYZ, CIELAB and LCh of each GetSpectralDataAll curve, for D50/2° and D65/10°, "
                 "and its sRGB value");
    app.add_option("--illuminant", settings.illuminant, "Only this illuminant (with --observer, default 2)")
        ->check(CLI::IsMember({"D50", "D65"}, CLI::ignore_case));
    app.add_option("--observer", settings.observer, "Only this observer in degrees (with --illuminant, default D50)")
        ->check(CLI::IsMember({"2", "10"}));
    app.add_option("--compare", settings.compare,
                   "After the other requests, show the colour difference (ΔE*ab, ΔE*00) of sample B from "
                   "sample A at every angle")
        ->expected(2)
        ->allow_extra_args(false)
        ->type_name("A B")
        ->check(CLI::Validator(
            [](const std::string& text) {
                return text.find_first_not_of("0123456789") == std::string::npos && !text.empty()
                           ? std::string()
                           : "\"" + text + "\" is not a sample index (0, 1, ...)";
            },
            "INDEX"));
    app.add_option("--reflectance", settings.reflectance,
                   "How the driver's values are meant: percent, fraction (0..1), or auto: percent when any exceeds 1.5")
        ->check(CLI::IsMember({"auto", "percent", "fraction"}))
        ->type_name("SCALE");
    app.add_option("--swatch", settings.swatch,
                   "Colour swatch with 24-bit escape sequences: auto (a terminal with COLORTERM truecolor or 24bit), "
                   "always, never")
        ->check(CLI::IsMember({"auto", "always", "never"}))
        ->type_name("WHEN");
}

ColourSettings ColourSettingsOf(const Settings& settings) {
    ColourSettings colour;
    if (!settings.illuminant.empty() || !settings.observer.empty()) {
        Condition condition;
        condition.illuminant = CLI::detail::to_lower(settings.illuminant) == "d65" ? Illuminant::D65 : Illuminant::D50;
        condition.observer = settings.observer == "10" ? Observer::TenDegree : Observer::TwoDegree;
        colour.conditions = {condition};
    }
    colour.swatch = settings.swatch == "always" || (settings.swatch == "auto" && TerminalShowsTrueColour());
    return colour;
}

int Unusable(const Backend& backend, const std::string& message) {
    std::cerr << backend.program << ": " << message << '\n';
    return kExitUnusable;
}

std::vector<std::string> CommandNames() {
    std::vector<std::string> names{"Init"};
#define NELKO_ADD_COMMAND(name) names.emplace_back(#name);
    NELKO_TABLE_COMMANDS(NELKO_ADD_COMMAND)
#undef NELKO_ADD_COMMAND
    if (*kColourUnavailable == '\0') names.insert(names.end(), {":colour", ":compare"});
    return names;
}

// One line without its end, or nothing at the end of the file or on a read error (which
// ferror then tells: a folder given as the script, say).
bool ReadLine(std::FILE* in, std::string& line) {
    line.clear();
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, in) != nullptr) {
        line += buffer;
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            return true;
        }
    }
    return !line.empty() && std::ferror(in) == 0;
}

// Lines until the end of the stream or of the session; false when reading failed, so that
// a script that could not be read whole is never taken for one that ran.
bool RunStream(Session& session, std::FILE* in, const std::string& name) {
    std::string line;
    for (int number = 1; ReadLine(in, line); ++number)
        if (!session.RunLine(line, name + ":" + std::to_string(number))) return true;
    return std::ferror(in) == 0;
}

void RunInteractively(Session& session, const std::string& inUse, bool quiet) {
    if (!quiet)
        std::cout << inUse << ". Type requests such as Hello or Init|NelkoSimulator|;\n"
                  << "Tab completes command names, " << support::kEndOfInputKeys << " ends.\n";
    support::LineReader reader(CommandNames());
    std::string line;
    for (int number = 1; reader.Read("> ", line); ++number)
        if (!session.RunLine(line, "input:" + std::to_string(number))) return;
    // End of input leaves the cursor after the prompt.
    std::cout << std::endl;
}

// The help's closing paragraphs: input, console commands, exit codes, examples.
std::string HelpFooter(const std::string& program, const Backend& backend) {
    return "Without requests or --script, requests come from standard input: typed with line editing\n"
           "and history at a terminal, else one a line. " +
           backend.note +
           "\n\n"
           "Console commands, typed or in a script: \":colour ANGLE [SAMPLE]\" shows the colour of the\n"
           "last measurement or of a stored sample at an angle; \":compare A B [ANGLE]\" the difference\n"
           "of sample B from sample A. Colour is summed over the wavelengths the driver reports\n"
           "(GetWavelengths) from 380 to 780 nm, the end values held beyond them, with the CIE 1931\n"
           "2° and 1964 10° observers and the CIE D50 and D65 illuminants.\n"
           "\n"
           "Exit codes: 0 every response OK; 1 an ERROR response, or none delivered, or a console\n"
           "command that failed; 2 usage error, or the " +
           backend.resources +
           " cannot be used,\n"
           "or reading the script or standard input failed.\n"
           "\n"
           "Examples:\n"
           "  " +
           program +
           " Hello \"Init|NelkoSimulator|\" \"Execute|Version|\"\n"
           "  " +
           program +
           " --chart --script demo-session.txt\n"
           "  echo \"Hello\" | " +
           program + " --quiet\n" +
           (*kColourUnavailable == '\0'
                ? "  " + program + " --colour --compare 0 1 --plot curves.svg --script demo-session.txt"
                : "  " + program +
                      " --plot curves.svg --script demo-session.txt\n\nColour (--colour, --compare, :colour, "
                      ":compare): " +
                      std::string(kColourUnavailable) + ".");
}

void AddOptions(CLI::App& app, Settings& settings, const Backend& backend) {
    const std::string program = backend.program;
    app.add_option(
           "requests", settings.requests,
           "Requests to run, in order, before any script, e.g. \"GetSpectralData|0|5|\" (quote the | for the shell)")
        ->type_name("REQUEST");
    app.add_option(
           "--script", settings.script,
           "File of requests, one a line; blank lines and lines starting with # are skipped; - reads standard input")
        ->type_name("FILE");
    backend.addOptions(app);
    app.add_flag("--keep-going", settings.keepGoing,
                 "Run every request even after an ERROR response (the exit code still reports it)");
    app.add_flag("-q,--quiet", settings.quiet, "Print only the responses, without \"> \" and \"< \"");
    app.add_flag("--chart", settings.chart, "Draw the curve of each GetSpectralDataAll response as bars");
    app.add_flag("--unicode", settings.unicode, "Draw chart bars with Unicode blocks instead of #");
    app.add_option("--plot", settings.plot,
                   "Write the GetSpectralDataAll curves of the session (and those of :colour) to this SVG file")
        ->type_name("FILE.svg");
    AddColourOptions(app, settings);
    app.set_version_flag("--version", program + " " NELKO_VERSION);
    app.footer(HelpFooter(program, backend));
}

SessionOptions SessionOptionsOf(const Settings& settings, const Backend& backend, bool interactive,
                                const std::string& plotFile) {
    SessionOptions options;
    options.program = backend.program;
    // Typed requests are seen as they are typed, and an error must not end the session.
    options.keepGoing = settings.keepGoing || interactive;
    options.echoRequests = !settings.quiet && !interactive;
    options.bareResponses = settings.quiet;
    options.chart = settings.chart;
    options.chartStyle.unicode = settings.unicode;
    options.colour = settings.colour;
    options.colourSettings = ColourSettingsOf(settings);
    if (settings.reflectance != "auto")
        options.scale = settings.reflectance == "percent" ? ReflectanceScale::Percent : ReflectanceScale::Fraction;
    options.plotFile = plotFile;
    return options;
}

// The requests of the arguments, then those of the script, of standard input or typed ones,
// until the session ends. False when reading the script or standard input failed.
bool RunRequests(Session& session, const Settings& settings, std::FILE* script, bool interactive,
                 const Backend& backend, std::string& problem) {
    for (std::size_t i = 0; i < settings.requests.size(); ++i)
        if (!session.RunLine(settings.requests[i], "argument " + std::to_string(i + 1))) return true;
    if (script != nullptr) {
        if (RunStream(session, script, settings.script)) return true;
        problem = "reading the script " + settings.script + " failed";
        return false;
    }
    if (settings.script == "-" || (settings.requests.empty() && !interactive)) {
        if (RunStream(session, stdin, "stdin")) return true;
        problem = "reading standard input failed";
        return false;
    }
    if (interactive) RunInteractively(session, backend.describe(), settings.quiet);
    return true;
}

int Run(int argc, char** argv, const Backend& backend) {
    Settings settings;
    CLI::App app{backend.description + " Each exchange is shown as \"> REQUEST\" and \"< RESPONSE\".", backend.program};
    AddOptions(app, settings, backend);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? kExitOk : kExitUnusable;
    }

    // Paths are taken relative to where the user is, before the backend may move elsewhere.
    std::error_code error;
    const std::string plotFile = settings.plot.empty() ? "" : fs::absolute(settings.plot, error).string();
    if (error) return Unusable(backend, "cannot use the plot path " + settings.plot + ": " + error.message());
    // Found before the first request: on a real instrument the measurements cannot be made again.
    if (!plotFile.empty() && !std::ofstream(plotFile, std::ios::binary | std::ios::app))
        return Unusable(backend, "cannot write the plot " + settings.plot);

    const bool scriptFromInput = settings.script == "-";
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> scriptFile(
        settings.script.empty() || scriptFromInput ? nullptr : std::fopen(settings.script.c_str(), "r"), std::fclose);
    if (!settings.script.empty() && !scriptFromInput && (!scriptFile || fs::is_directory(settings.script, error)))
        return Unusable(backend, "cannot open the script " + settings.script);

    std::string problem;
    const Executor execute = backend.open(problem);
    if (!execute) return Unusable(backend, problem);

    const bool interactive = settings.requests.empty() && settings.script.empty() && support::StandardInputIsTerminal();
    if (settings.unicode || settings.colour || !settings.compare.empty()) support::PrepareUnicodeOutput();
    Session session(execute, SessionOptionsOf(settings, backend, interactive, plotFile), std::cout, std::cerr);
    if (!RunRequests(session, settings, scriptFile.get(), interactive, backend, problem))
        return Unusable(backend, problem);
    if (!settings.compare.empty())
        session.RunLine(":compare " + std::to_string(settings.compare[0]) + " " + std::to_string(settings.compare[1]),
                        "--compare");
    return session.Finish();
}

}  // namespace

int RunFrontend(int argc, char** argv, const Backend& backend) {
    try {
        return Run(argc, argv, backend);
    } catch (const std::exception& e) {
        // Out of memory, or a stream or file system failure nothing above could foresee.
        std::cerr << backend.program << ": " << e.what() << '\n';
    } catch (...) {
        std::cerr << backend.program << ": unexpected failure\n";
    }
    return kExitUnusable;
}

}  // namespace nelko::console
