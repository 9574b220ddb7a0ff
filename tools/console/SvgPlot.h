// The spectral curves of a session as an SVG drawing a browser opens.
#pragma once

#include <string>
#include <vector>

namespace nelko::console {

struct PlotCurve {
    std::string label;  // shown in the legend
    std::vector<double> wavelengths;
    std::vector<double> percent;  // reflectance, %
};

// Axes in nm and %, one coloured line per curve, a legend naming them. Without curves the
// drawing says so instead of showing empty axes.
std::string RenderSvgPlot(const std::vector<PlotCurve>& curves, const std::string& title);

}  // namespace nelko::console
