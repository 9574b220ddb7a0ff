// Splitting a request text "Name|param1|param2|" into its name and parameters.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace nelko {

using Parameters = std::vector<std::string>;

// The text before the first "|", or the whole request when it has none.
std::string_view GetCommandName(std::string_view request);

// The texts between consecutive "|" characters; what follows the last "|" is not a
// parameter. Traces "Parameters of " + request first.
Parameters GetParameters(const std::string& request);

}  // namespace nelko
