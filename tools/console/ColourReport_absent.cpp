#include "ColourReport.h"

namespace nelko::console {

const char* const kColourUnavailable = "this build has no colour figures: Little CMS was not found when it was built";

std::optional<std::string> ColourText(const CheckedCurve&, const ColourSettings&, std::string& problem) {
    problem = kColourUnavailable;
    return std::nullopt;
}

std::optional<std::string> DifferenceText(const CheckedCurve&, const CheckedCurve&, const ColourSettings&,
                                          std::string& problem) {
    problem = kColourUnavailable;
    return std::nullopt;
}

}  // namespace nelko::console
