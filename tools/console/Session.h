// A run of requests against the add-in: what is shown for each exchange, when to stop,
// and the exit code.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "CurveChart.h"

namespace nelko::console {

inline constexpr int kExitOk = 0;
inline constexpr int kExitErrorResponse = 1;
inline constexpr int kExitUnusable = 2;

struct SessionOptions {
    bool keepGoing = false;      // run on after an ERROR response
    bool echoRequests = true;    // "> REQUEST" before each response
    bool bareResponses = false;  // the response alone, without "< "
    bool chart = false;          // draw the curves of GetSpectralDataAll
    ChartStyle chartStyle;
};

// Response text for a request; nothing when none was delivered.
using Executor = std::function<std::optional<std::string>(const std::string& request)>;

class Session {
public:
    Session(Executor execute, const SessionOptions& options, std::ostream& out, std::ostream& diagnostics);

    // Runs the request on the line, if it holds one. `where` names the line in messages
    // ("demo.txt:12"). False once the session has stopped.
    bool RunLine(std::string_view line, const std::string& where);

    // After the last line: reports the failures and gives the exit code.
    int Finish();

private:
    void Fail(const std::string& request, const std::string& where, const std::string& what);

    Executor execute_;
    SessionOptions options_;
    std::ostream& out_;
    std::ostream& diagnostics_;
    int requests_ = 0;
    int failures_ = 0;
    bool stopped_ = false;
};

}  // namespace nelko::console
