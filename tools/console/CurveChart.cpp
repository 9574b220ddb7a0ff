#include "CurveChart.h"

#include "RequestLine.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace nelko::console {
namespace {

// Eighth blocks U+258F (one eighth) .. U+2589 (seven eighths), then the full block U+2588.
constexpr const char* kEighths[] = {"", "\u258F", "\u258E", "\u258D", "\u258C", "\u258B", "\u258A", "\u2589"};
constexpr const char* kFullBlock = "\u2588";

// The bar and its padding: always `width` columns, whatever the characters' byte length.
std::string Bar(double fraction, const ChartStyle& style) {
    fraction = std::clamp(fraction, 0.0, 1.0);
    std::string bar;
    int used = 0;
    if (style.unicode) {
        const long eighths = std::lround(fraction * style.width * 8);
        for (long i = 0; i < eighths / 8; ++i, ++used) bar += kFullBlock;
        if (eighths % 8 != 0) {
            bar += kEighths[eighths % 8];
            ++used;
        }
    } else {
        used = static_cast<int>(std::lround(fraction * style.width));
        bar.assign(static_cast<std::size_t>(used), '#');
    }
    bar.append(static_cast<std::size_t>(std::max(style.width - used, 0)), ' ');
    return bar;
}

}  // namespace

std::optional<std::string> RenderCurveChart(std::string_view text, const ChartStyle& style) {
    const auto values = ParseListedNumbers(text);
    if (!values ||
        std::any_of(values->begin(), values->end(), [](const ListedNumber& v) { return !std::isfinite(v.number); }))
        return std::nullopt;

    const auto largest =
        std::max_element(values->begin(), values->end(),
                         [](const ListedNumber& a, const ListedNumber& b) { return a.number < b.number; });
    const double scale = largest->number;
    std::string chart = "  full bar = ";
    chart += scale > 0 ? largest->text : std::string_view("0 (no positive values)");
    chart += '\n';

    int wavelength = style.firstWavelength;
    for (const ListedNumber& value : *values) {
        const std::string label = std::to_string(wavelength);
        chart.append(label.size() < 5 ? 5 - label.size() : 1, ' ');
        chart += label;
        chart += " nm |";
        chart += Bar(scale > 0 ? value.number / scale : 0.0, style);
        chart += ' ';
        chart += value.text;
        chart += '\n';
        wavelength += style.wavelengthStep;
    }
    return chart;
}

}  // namespace nelko::console
