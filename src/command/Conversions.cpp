#include "command/Conversions.h"

#include <boost/lexical_cast/bad_lexical_cast.hpp>
#include <array>
#include <charconv>
#include <cstring>
#include <typeinfo>

namespace nelko {
namespace {

template <typename Target>
Target ParseStrict(const std::string& text, bool allowMinus) {
    const char* first = text.data();
    const char* const last = first + text.size();
    // from_chars takes "-" but not "+", and would take "+-5" if we simply skipped a "+".
    if (first != last && *first == '+')
        ++first;
    else if (first != last && *first == '-' && !allowMinus)
        first = last;
    Target value{};
    const auto result = std::from_chars(first, last, value, 10);
    if (first == last || (*first == '-' && first != text.data()) || result.ec != std::errc() || result.ptr != last)
        boost::throw_exception(boost::bad_lexical_cast(typeid(std::string), typeid(Target)));
    return value;
}

// std::to_chars is locale-independent: a host process that switched its C locale to
// one with a decimal comma must not change the protocol's numbers.
void AppendGeneral(std::string& out, double value, int precision) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, precision);
    out.append(buffer, result.ptr);
}

#if defined(__SIZEOF_INT128__)
// The same text as AppendGeneral for a float, in a fraction of the time: "GetSpectralDataAll"
// formats 31 values per request, and std::to_chars with a precision takes longer for them
// than the request's three trace entries take beside the file system. Exact: the float is
// scaled by a power of ten in integers and rounded half to even on the exact remainder, as
// to_chars does; values it does not cover go to to_chars. tests/stress/FloatFormatCheck.cpp
// compares both texts for every float.
__extension__ using Wide = unsigned __int128;

constexpr int kMaxFastPrecision = 9;
constexpr int kMaxFastExponent = 20;

constexpr std::array<std::uint64_t, 20> PowersOfTen() {
    std::array<std::uint64_t, 20> powers{1};
    for (std::size_t i = 1; i < powers.size(); ++i) powers[i] = powers[i - 1] * 10;
    return powers;
}

constexpr auto kPowersOfTen = PowersOfTen();

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

Wide WidePowerOfTen(int exponent) {  // 0..38
    return exponent < 20 ? Wide{kPowersOfTen[exponent]} : Wide{kPowersOfTen[19]} * kPowersOfTen[exponent - 19];
}

// mantissa * 2^binaryExponent * 10^scale: its integer part (below 10^(kMaxFastPrecision + 1)
// for the scales asked for), and whether rounding the exact remainder half to even adds one.
struct Scaled {
    std::uint64_t whole;
    bool roundUp;
};

Scaled ScaleWide(std::uint32_t mantissa, int binaryExponent, int scale) {
    Wide numerator = mantissa;
    Wide denominator = 1;
    if (scale >= 0) {
        numerator *= WidePowerOfTen(scale);
    } else {
        denominator = WidePowerOfTen(-scale);
    }
    if (binaryExponent >= 0) {
        numerator <<= binaryExponent;
    } else {
        denominator <<= -binaryExponent;
    }
    const Wide whole = numerator / denominator;
    const Wide remainder = numerator % denominator;
    const Wide rest = denominator - remainder;
    return {static_cast<std::uint64_t>(whole), remainder > rest || (remainder == rest && (whole & 1) != 0)};
}

// The usual values (a few digits before the point, none very small) need 64 bits only.
inline Scaled Scale(std::uint32_t mantissa, int binaryExponent, int scale) {
    if (scale < 0 || scale > 12 || binaryExponent >= 0 || binaryExponent <= -64) {
        return ScaleWide(mantissa, binaryExponent, scale);
    }
    const std::uint64_t numerator = mantissa * kPowersOfTen[scale];  // below 2^24 * 10^12 < 2^64
    const int shift = -binaryExponent;
    const std::uint64_t whole = numerator >> shift;
    const std::uint64_t remainder = numerator & ((std::uint64_t{1} << shift) - 1);
    const std::uint64_t half = std::uint64_t{1} << (shift - 1);
    return {whole, remainder > half || (remainder == half && (whole & 1) != 0)};
}

// False when the value is left to std::to_chars: zero, subnormal, not finite, or outside
// 1e-20 .. 1e21.
bool AppendGeneralFast(std::string& out, float value, int precision) {
    if (precision < 1 || precision > kMaxFastPrecision) return false;
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const int biasedExponent = static_cast<int>((bits >> 23) & 0xff);
    if (biasedExponent == 0 || biasedExponent == 0xff) return false;
    const std::uint32_t mantissa = (bits & 0x7fffff) | 0x800000;
    const int binaryExponent = biasedExponent - 150;  // value = mantissa * 2^binaryExponent

    // floor(log10(value)) or one less, as 2^(e+23) <= value < 2^(e+24) and 78913 / 2^18 is
    // just below log10(2); the exact digits below settle it.
    const int log2Floor = binaryExponent + 23;
    int exponent = log2Floor >= 0 ? (log2Floor * 78913) >> 18 : -((-log2Floor * 78913 + (1 << 18) - 1) >> 18);
    if (exponent < -kMaxFastExponent || exponent > kMaxFastExponent) return false;
    Scaled scaled = Scale(mantissa, binaryExponent, precision - 1 - exponent);
    if (scaled.whole >= kPowersOfTen[precision]) {
        ++exponent;
        scaled = Scale(mantissa, binaryExponent, precision - 1 - exponent);
    } else if (scaled.whole < kPowersOfTen[precision - 1]) {
        --exponent;
        scaled = Scale(mantissa, binaryExponent, precision - 1 - exponent);
    }
    std::uint64_t rounded = scaled.whole + (scaled.roundUp ? 1 : 0);
    if (rounded == kPowersOfTen[precision]) {  // rounded up to the next power of ten
        rounded = kPowersOfTen[precision - 1];
        ++exponent;
    }
    // Room beyond the digits, so that every copy below can be of one fixed size: the bytes
    // past the end of a piece are overwritten or left out.
    char digits[2 * kMaxFastPrecision] = {};
    auto digitsValue = static_cast<std::uint32_t>(rounded);  // below 10^9
    int filled = precision;
    for (; filled >= 2; filled -= 2) {
        std::memcpy(digits + filled - 2, &kDigitPairs[static_cast<std::size_t>(digitsValue % 100) * 2], 2);
        digitsValue /= 100;
    }
    if (filled == 1) digits[0] = static_cast<char>('0' + digitsValue);

    // As printf's %g: fixed notation for exponents -4 .. precision-1, else scientific;
    // trailing zeros of the fraction dropped, and its point with them.
    char text[48];
    char* end = text;
    if ((bits >> 31) != 0) *end++ = '-';
    int lastDigit = precision - 1;
    if (exponent < -4 || exponent >= precision) {
        while (lastDigit > 0 && digits[lastDigit] == '0') --lastDigit;
        *end++ = digits[0];
        if (lastDigit > 0) {
            *end++ = '.';
            std::memcpy(end, digits + 1, kMaxFastPrecision);
            end += lastDigit;
        }
        *end++ = 'e';
        *end++ = exponent < 0 ? '-' : '+';
        std::memcpy(end, &kDigitPairs[static_cast<std::size_t>(exponent < 0 ? -exponent : exponent) * 2], 2);
        end += 2;
    } else if (exponent >= 0) {
        while (lastDigit > exponent && digits[lastDigit] == '0') --lastDigit;
        std::memcpy(end, digits, kMaxFastPrecision);
        end += exponent + 1;
        if (lastDigit > exponent) {
            *end++ = '.';
            std::memcpy(end, digits + exponent + 1, kMaxFastPrecision);
            end += lastDigit - exponent;
        }
    } else {
        while (digits[lastDigit] == '0') --lastDigit;  // digits[0] is never '0'
        std::memcpy(end, "0.0000", 6);
        end += 1 - exponent;  // "0." and the zeros after the point
        std::memcpy(end, digits, kMaxFastPrecision);
        end += lastDigit + 1;
    }
    out.append(text, static_cast<std::size_t>(end - text));
    return true;
}
#else
bool AppendGeneralFast(std::string&, float, int) { return false; }
#endif

void AppendFloat(std::string& out, float value, int precision) {
    if (!AppendGeneralFast(out, value, precision)) AppendGeneral(out, value, precision);
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
    AppendFloat(text, value, 7);
    return text;
}

void AppendFloatDefaultPrecision(std::string& out, float value) { AppendFloat(out, value, 6); }

}  // namespace nelko
