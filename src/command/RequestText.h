// Splitting a request text "Name|param1|param2|" into its name and parameters.
#pragma once

#include <string>
#include <vector>

namespace nelko {

using Parameters = std::vector<std::string>;

// The text before the first "|", or the whole request when it has none.
std::string GetCommandName(const std::string& request);

// The texts between consecutive "|" characters; what follows the last "|" is not a
// parameter. Traces "Parameters of " + request first.
Parameters GetParameters(const std::string& request);

}  // namespace nelko
