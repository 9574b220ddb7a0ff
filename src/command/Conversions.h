// Strict conversions between protocol texts and the driver's numbers. Failures raise
// boost::bad_lexical_cast, which the dispatcher reports in the response.
#pragma once

#include <cstdint>
#include <string>

namespace nelko {

// The whole text must be one base-10 integer: an optional sign, then digits; no blanks.
std::int32_t ParseInt(const std::string& text);
// As ParseInt, but 0..65535 and no "-" sign at all.
std::uint16_t ParseUShort(const std::string& text);

std::string FormatInt(std::int32_t value);
// General notation with 7 significant digits ("%.7g").
std::string FormatFloat(float value);
// Appends the value in a text stream's default notation: general, 6 significant digits.
void AppendFloatDefaultPrecision(std::string& out, float value);

}  // namespace nelko
