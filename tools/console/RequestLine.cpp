#include "RequestLine.h"

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

std::string_view CommandNameOf(std::string_view request) { return request.substr(0, request.find('|')); }

}  // namespace nelko::console
