#include "RequestLine.h"

#include <charconv>

namespace nelko::console {

std::optional<std::string> RequestOnLine(std::string_view line) {
    // Editors on Windows like to start a file with one; it would glue to the first command.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (line.substr(0, kByteOrderMark.size()) == kByteOrderMark) line.remove_prefix(kByteOrderMark.size());

    constexpr std::string_view kBlanks = " \t\r\n\v\f";
    const std::size_t first = line.find_first_not_of(kBlanks);
    if (first == std::string_view::npos || line[first] == '#') return std::nullopt;
    const std::size_t last = line.find_last_not_of(kBlanks);
    return std::string(line.substr(first, last - first + 1));
}

std::optional<std::vector<ListedNumber>> ParseListedNumbers(std::string_view text) {
    std::vector<ListedNumber> values;
    while (true) {
        const std::size_t end = text.find(';');
        const std::string_view token = text.substr(0, end);
        double number = 0;
        const auto result = std::from_chars(token.data(), token.data() + token.size(), number);
        if (token.empty() || result.ec != std::errc{} || result.ptr != token.data() + token.size()) return std::nullopt;
        values.push_back({token, number});
        if (end == std::string_view::npos) return values;
        text.remove_prefix(end + 1);
    }
}

std::optional<std::vector<double>> ParseNumberList(std::string_view text) {
    const auto values = ParseListedNumbers(text);
    if (!values) return std::nullopt;
    std::vector<double> numbers;
    numbers.reserve(values->size());
    for (const ListedNumber& value : *values) numbers.push_back(value.number);
    return numbers;
}

}  // namespace nelko::console
