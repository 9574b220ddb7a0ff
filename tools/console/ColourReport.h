// What the console prints about colour: CIELAB and friends for a curve, the difference
// between two curves. Built from ColourReport.cpp where Little CMS is found, otherwise from
// ColourReport_absent.cpp, which says so.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Colorimetry.h"
#include "Reflectance.h"

namespace nelko::console {

// Empty where this build computes colour, else why it does not.
extern const char* const kColourUnavailable;

struct ColourSettings {
    std::vector<Condition> conditions{{Illuminant::D50, Observer::TwoDegree}, {Illuminant::D65, Observer::TenDegree}};
    bool swatch = false;  // 24-bit colour escape sequences understood where the text goes
};

// Lines of text for the colour of the curve, or nothing and the reason in `problem`.
std::optional<std::string> ColourText(const CheckedCurve& curve, const ColourSettings& settings, std::string& problem);

// Lines of text for the difference from `reference` to `sample` under each condition.
std::optional<std::string> DifferenceText(const CheckedCurve& reference, const CheckedCurve& sample,
                                          const ColourSettings& settings, std::string& problem);

}  // namespace nelko::console
