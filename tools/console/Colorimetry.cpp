#include "Colorimetry.h"

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "CieTables.h"

namespace nelko::console {
namespace {

constexpr double kTolerance = 0.01;  // nm

struct Weights {
    double illuminant, x, y, z;
};

Weights WeightsAt(const CieRow& row, const Condition& condition) {
    const double power = condition.illuminant == Illuminant::D50 ? row.d50 : row.d65;
    if (condition.observer == Observer::TwoDegree) return {power, row.x2, row.y2, row.z2};
    return {power, row.x10, row.y10, row.z10};
}

// The table at any wavelength of 380..780 nm: its own row, or between two rows.
Weights WeightsAt(double nm, const Condition& condition) {
    const double position = (nm - kCieFirstNm) / kCieStepNm;
    const std::size_t below =
        std::min(static_cast<std::size_t>(std::max(std::floor(position), 0.0)), kCieTable.size() - 2);
    const double t = std::clamp(position - static_cast<double>(below), 0.0, 1.0);
    const Weights a = WeightsAt(kCieTable[below], condition);
    const Weights b = WeightsAt(kCieTable[below + 1], condition);
    auto mix = [t](double from, double to) { return from + (to - from) * t; };
    return {mix(a.illuminant, b.illuminant), mix(a.x, b.x), mix(a.y, b.y), mix(a.z, b.z)};
}

cmsCIEXYZ ToLcms(const Xyz& xyz) { return {xyz.x, xyz.y, xyz.z}; }
cmsCIELab ToLcms(const Lab& lab) { return {lab.l, lab.a, lab.b}; }

}  // namespace

std::string ConditionName(const Condition& condition) {
    return std::string(condition.illuminant == Illuminant::D50 ? "D50" : "D65") +
           (condition.observer == Observer::TwoDegree ? "/2°" : "/10°");
}

ColourResult ColourOf(const CheckedCurve& curve, const Condition& condition) {
    const double first = curve.wavelengths.front();
    const double last = curve.wavelengths.back();
    if (first > 400 + kTolerance || last < 700 - kTolerance || curve.step <= 0)
        return {std::nullopt, "the wavelengths cover " + std::to_string(static_cast<int>(std::lround(first))) + ".." +
                                  std::to_string(static_cast<int>(std::lround(last))) +
                                  " nm; a colour needs at least 400..700 nm"};

    // The curve's own grid, continued in its step down to 380 and up to 780 nm.
    const double step = curve.step;
    const long below = static_cast<long>(std::floor((first - kCieFirstNm + kTolerance) / step));
    const long above = static_cast<long>(std::floor((kCieLastNm - last + kTolerance) / step));
    const long count = static_cast<long>(curve.wavelengths.size());
    Xyz sum, white;
    for (long k = -below; k < count + above; ++k) {
        const double nm = first + static_cast<double>(k) * step;
        const double factor = curve.factors[static_cast<std::size_t>(std::clamp(k, 0L, count - 1))];
        const Weights w = WeightsAt(nm, condition);
        white.x += w.illuminant * w.x;
        white.y += w.illuminant * w.y;
        white.z += w.illuminant * w.z;
        sum.x += w.illuminant * w.x * factor;
        sum.y += w.illuminant * w.y * factor;
        sum.z += w.illuminant * w.z * factor;
    }
    const double k = 100 / white.y;
    Colour colour;
    colour.xyz = {sum.x * k, sum.y * k, sum.z * k};
    colour.white = {white.x * k, 100, white.z * k};

    const cmsCIEXYZ xyz = ToLcms(colour.xyz);
    const cmsCIEXYZ whitePoint = ToLcms(colour.white);
    cmsCIELab lab;
    cmsXYZ2Lab(&whitePoint, &lab, &xyz);
    cmsCIELCh lch;
    cmsLab2LCh(&lch, &lab);
    colour.lab = {lab.L, lab.a, lab.b};
    colour.lch = {lch.L, lch.C, lch.h};
    return {colour, ""};
}

double DeltaEab(const Lab& first, const Lab& second) {
    const cmsCIELab a = ToLcms(first), b = ToLcms(second);
    return cmsDeltaE(&a, &b);
}

double DeltaE00(const Lab& first, const Lab& second) {
    const cmsCIELab a = ToLcms(first), b = ToLcms(second);
    return cmsCIE2000DeltaE(&a, &b, 1, 1, 1);
}

Srgb SrgbOf(const Colour& colour) {
    const auto linear = [](const Xyz& xyz) {
        const double x = xyz.x / 100, y = xyz.y / 100, z = xyz.z / 100;
        return std::array<double, 3>{3.2406 * x - 1.5372 * y - 0.4986 * z, -0.9689 * x + 1.8758 * y + 0.0415 * z,
                                     0.0557 * x - 0.2040 * y + 1.0570 * z};
    };
    const std::array<double, 3> rgb = linear(colour.xyz), white = linear(colour.white);
    // Rounding is not clipping.
    constexpr double kSlack = 1e-4;
    Srgb srgb;
    int* const channel[] = {&srgb.r, &srgb.g, &srgb.b};
    for (std::size_t i = 0; i < 3; ++i) {
        const double v = rgb[i] / white[i];
        if (v < -kSlack || v > 1 + kSlack) srgb.clipped = true;
        const double clipped = std::clamp(v, 0.0, 1.0);
        const double encoded = clipped <= 0.0031308 ? 12.92 * clipped : 1.055 * std::pow(clipped, 1 / 2.4) - 0.055;
        *channel[i] = static_cast<int>(std::lround(encoded * 255));
    }
    return srgb;
}

}  // namespace nelko::console
