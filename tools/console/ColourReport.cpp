#include "ColourReport.h"

#include <cstdio>

namespace nelko::console {

const char* const kColourUnavailable = "";

namespace {

// A blank, then the number right-aligned in a column wide enough for "-99.99" or "359.9".
std::string Column(double value, int decimals, bool sign = false) {
    char text[64];
    std::snprintf(text, sizeof text, sign ? " %+*.*f" : " %*.*f", decimals + 4, decimals, value);
    return text;
}

std::string Label(const Condition& condition) {
    std::string name = ConditionName(condition);
    // "°" is two bytes but one column.
    name.append(name.size() < 10 ? 10 - name.size() : 1, ' ');
    return "    " + name;
}

std::string Range(const CheckedCurve& curve) {
    char text[128];
    std::snprintf(text, sizeof text, "%zu values, %g..%g nm every %g nm", curve.wavelengths.size(),
                  curve.wavelengths.front(), curve.wavelengths.back(), curve.step);
    return text;
}

std::string SrgbLine(const CheckedCurve& curve, const ColourSettings& settings) {
    const ColourResult d65 = ColourOf(curve, {Illuminant::D65, Observer::TwoDegree});
    if (!d65.colour) return "";
    const Srgb srgb = SrgbOf(*d65.colour);
    char text[160];
    std::snprintf(text, sizeof text, "    sRGB      #%02X%02X%02X (D65/2°)", srgb.r, srgb.g, srgb.b);
    std::string line = text;
    if (settings.swatch) {
        std::snprintf(text, sizeof text, "  \x1b[48;2;%d;%d;%dm        \x1b[0m", srgb.r, srgb.g, srgb.b);
        line += text;
    }
    if (srgb.clipped) line += "  clipped: outside the sRGB gamut";
    return line + "\n";
}

}  // namespace

std::optional<std::string> ColourText(const CheckedCurve& curve, const ColourSettings& settings, std::string& problem) {
    std::string text = "  colour of " + Range(curve) + ", in " + ScaleName(curve.scale) +
                       (curve.scaleDetected ? " (detected)" : "") + "; beyond them the end values hold\n";
    for (const Condition& condition : settings.conditions) {
        const ColourResult result = ColourOf(curve, condition);
        if (!result.colour) {
            problem = result.problem;
            return std::nullopt;
        }
        const Colour& c = *result.colour;
        text += Label(condition) + "X" + Column(c.xyz.x, 2) + "  Y" + Column(c.xyz.y, 2) + "  Z" + Column(c.xyz.z, 2) +
                "   L*" + Column(c.lab.l, 2) + "  a*" + Column(c.lab.a, 2) + "  b*" + Column(c.lab.b, 2) + "   C*" +
                Column(c.lch.c, 2) + "  h" + Column(c.lch.h, 1) + "°\n";
    }
    return text + SrgbLine(curve, settings);
}

std::optional<std::string> DifferenceText(const CheckedCurve& reference, const CheckedCurve& sample,
                                          const ColourSettings& settings, std::string& problem) {
    std::string text;
    for (const Condition& condition : settings.conditions) {
        const ColourResult a = ColourOf(reference, condition);
        const ColourResult b = ColourOf(sample, condition);
        if (!a.colour || !b.colour) {
            problem = a.colour ? b.problem : a.problem;
            return std::nullopt;
        }
        const Lab& l1 = a.colour->lab;
        const Lab& l2 = b.colour->lab;
        text += Label(condition) + "ΔL*" + Column(l2.l - l1.l, 2, true) + "  Δa*" + Column(l2.a - l1.a, 2, true) +
                "  Δb*" + Column(l2.b - l1.b, 2, true) + "   ΔE*ab" + Column(DeltaEab(l1, l2), 2) + "  ΔE*00" +
                Column(DeltaE00(l1, l2), 2) + "\n";
    }
    return text;
}

}  // namespace nelko::console
