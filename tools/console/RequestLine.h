// Turning lines of input (script lines, typed lines, arguments) into request texts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nelko::console {

// The request on a line: the line without surrounding blanks, a carriage return left by
// Windows line ends or an UTF-8 byte order mark. Nothing for blank lines and comments
// (first non-blank character '#').
std::optional<std::string> RequestOnLine(std::string_view line);

// One value of a ';'-separated list of numbers (a response's values).
struct ListedNumber {
    std::string_view text;  // as the add-in wrote it, not reformatted
    double number;
};

// The values of such a list, "nan" and "inf" included; nothing when the text is not one.
std::optional<std::vector<ListedNumber>> ParseListedNumbers(std::string_view text);
// The same, the numbers alone.
std::optional<std::vector<double>> ParseNumberList(std::string_view text);

}  // namespace nelko::console
