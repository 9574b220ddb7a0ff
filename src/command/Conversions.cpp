#include "command/Conversions.h"

#include <boost/lexical_cast/bad_lexical_cast.hpp>
#include <charconv>
#include <typeinfo>

namespace nelko {
namespace {

template <typename Target>
Target ParseStrict(const std::string& text, bool allowMinus) {
    const char* first = text.data();
    const char* const last = first + text.size();
    // from_chars takes "-" but not "+", and would take "+-5" if we simply skipped a "+".
    if (first != last && *first == '+') ++first;
    else if (first != last && *first == '-' && !allowMinus) first = last;
    Target value{};
    if (first == last || (*first == '-' && first != text.data())) {
        boost::throw_exception(boost::bad_lexical_cast(typeid(std::string), typeid(Target)));
    }
    const auto result = std::from_chars(first, last, value, 10);
    if (result.ec != std::errc() || result.ptr != last) {
        boost::throw_exception(boost::bad_lexical_cast(typeid(std::string), typeid(Target)));
    }
    return value;
}

// std::to_chars is locale-independent: a host process that switched its C locale to
// one with a decimal comma must not change the protocol's numbers.
void AppendGeneral(std::string& out, double value, int precision) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, precision);
    out.append(buffer, result.ptr);
}

}  // namespace

std::int32_t ParseInt(const std::string& text) { return ParseStrict<std::int32_t>(text, true); }

std::uint16_t ParseUShort(const std::string& text) { return ParseStrict<std::uint16_t>(text, false); }

std::string FormatInt(std::int32_t value) {
    char buffer[16];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string FormatFloat(float value) {
    std::string text;
    AppendGeneral(text, value, 7);
    return text;
}

void AppendFloatDefaultPrecision(std::string& out, float value) { AppendGeneral(out, value, 6); }

}  // namespace nelko
