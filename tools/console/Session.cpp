#include "Session.h"

#include <utility>

#include "RequestLine.h"

namespace nelko::console {

Session::Session(Executor execute, const SessionOptions& options, std::ostream& out, std::ostream& diagnostics)
    : execute_(std::move(execute)), options_(options), out_(out), diagnostics_(diagnostics) {}

bool Session::RunLine(std::string_view line, const std::string& where) {
    if (stopped_) return false;
    const std::optional<std::string> request = RequestOnLine(line);
    if (!request) return true;

    ++requests_;
    if (options_.echoRequests) out_ << "> " << *request << '\n';
    // Shown before the add-in runs, so that a request that hangs or crashes is visible.
    out_.flush();
    const std::optional<std::string> response = execute_(*request);
    if (!response) {
        Fail(*request, where, "no response delivered");
        return !stopped_;
    }

    out_ << (options_.bareResponses ? "" : "< ") << *response << '\n';
    constexpr std::string_view kOkWithText = "OK|";
    if (options_.chart && CommandNameOf(*request) == "GetSpectralDataAll" &&
        response->compare(0, kOkWithText.size(), kOkWithText) == 0) {
        const std::string_view values = std::string_view(*response).substr(kOkWithText.size());
        if (const auto chart = RenderCurveChart(values, options_.chartStyle))
            out_ << *chart;
        else
            diagnostics_ << "nelko-console: " << where << ": no chart: the response is not a list of numbers\n";
    }
    out_.flush();

    if (response->compare(0, 5, "ERROR") == 0) Fail(*request, where, "ERROR response");
    return !stopped_;
}

void Session::Fail(const std::string& request, const std::string& where, const std::string& what) {
    ++failures_;
    out_.flush();
    diagnostics_ << "nelko-console: " << where << ": " << what << " to " << request;
    if (!options_.keepGoing) {
        stopped_ = true;
        diagnostics_ << "; stopped (--keep-going runs on)";
    }
    diagnostics_ << '\n';
}

int Session::Finish() {
    if (failures_ == 0) return kExitOk;
    if (options_.keepGoing)
        diagnostics_ << "nelko-console: " << failures_ << " of " << requests_ << " requests failed\n";
    return kExitErrorResponse;
}

}  // namespace nelko::console
