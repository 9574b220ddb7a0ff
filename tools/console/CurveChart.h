// A spectral curve ("12.5;13.1;...", one value per wavelength) drawn as terminal text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nelko::console {

struct ChartStyle {
    bool unicode = false;  // eighth-cell block characters instead of '#'
    int width = 50;        // columns of the longest bar
    int firstWavelength = 400;
    int wavelengthStep = 10;
};

// One line per value: "  400 nm |#####    12.5", the bars scaled so that the largest
// value fills the width, after a line naming that scale. Nothing when the text is not a
// ';'-separated list of finite numbers.
std::optional<std::string> RenderCurveChart(std::string_view values, const ChartStyle& style = {});

}  // namespace nelko::console
