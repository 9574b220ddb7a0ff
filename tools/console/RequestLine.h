// Turning lines of input (script lines, typed lines, arguments) into request texts.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace nelko::console {

// The request on a line: the line without surrounding blanks, a carriage return left by
// Windows line ends or an UTF-8 byte order mark. Nothing for blank lines and comments
// (first non-blank character '#').
std::optional<std::string> RequestOnLine(std::string_view line);

// The command a request names: the text before its first '|', or all of it.
std::string_view CommandNameOf(std::string_view request);

}  // namespace nelko::console
