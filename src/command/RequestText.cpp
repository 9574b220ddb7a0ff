#include "command/RequestText.h"

#include "diagnostics/TraceLog.h"

namespace nelko {

std::string_view GetCommandName(std::string_view request) { return request.substr(0, request.find('|')); }

Parameters GetParameters(const std::string& request) {
    Trace("Parameters of " + request);
    Parameters parameters;
    std::string::size_type start = request.find('|');
    if (start == std::string::npos) return parameters;
    for (std::string::size_type end = request.find('|', start + 1); end != std::string::npos;
         start = end, end = request.find('|', start + 1)) {
        parameters.emplace_back(request, start + 1, end - start - 1);
    }
    return parameters;
}

}  // namespace nelko
