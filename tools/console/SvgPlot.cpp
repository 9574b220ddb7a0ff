#include "SvgPlot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace nelko::console {
namespace {

constexpr double kWidth = 820, kPlotAreaHeight = 520;
constexpr double kLegendRow = 20;
constexpr double kLeft = 70, kRight = 230, kTop = 50, kBottom = 60;  // margins; the legend is on the right
// Colours a reader tells apart, also with the commonest colour-vision deficiencies.
constexpr const char* kColours[] = {"#0072B2", "#D55E00", "#009E73", "#CC79A7",
                                    "#E69F00", "#56B4E9", "#000000", "#999999"};
constexpr std::size_t kColourCount = sizeof kColours / sizeof kColours[0];
// Each round of the colours gets a dash pattern of its own.
constexpr const char* kDashes[] = {"", "8 4", "2 3", "10 3 2 3", "1 5"};
constexpr std::size_t kDashCount = sizeof kDashes / sizeof kDashes[0];

std::string Escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string SvgNumber(double value, int decimals = 1) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// A step of 1, 2 or 5 times a power of ten giving about `ticks` divisions of `span`.
double TickStep(double span, int ticks) {
    const double rough = span / ticks;
    const double power = std::pow(10, std::floor(std::log10(rough)));
    for (const double m : {1.0, 2.0, 5.0})
        if (m * power >= rough) return m * power;
    return 10 * power;
}

}  // namespace

std::string RenderSvgPlot(const std::vector<PlotCurve>& curves, const std::string& title) {
    double nmLow = std::numeric_limits<double>::max(), nmHigh = std::numeric_limits<double>::lowest();
    double top = 0;
    for (const PlotCurve& curve : curves) {
        for (const double nm : curve.wavelengths) {
            nmLow = std::min(nmLow, nm);
            nmHigh = std::max(nmHigh, nm);
        }
        for (const double v : curve.percent) top = std::max(top, v);
    }
    if (curves.empty()) nmLow = 400, nmHigh = 700;
    if (nmHigh <= nmLow) nmLow -= 10, nmHigh += 10;
    const double yStep = TickStep(std::max(top, 10.0), 5);
    const double yHigh = std::ceil(std::max(top, 10.0) / yStep) * yStep;
    const double xStep = TickStep(nmHigh - nmLow, 6);

    // The picture grows with its legend, so that every curve's entry is inside it.
    const double height = std::max(kPlotAreaHeight, kTop + 10 + static_cast<double>(curves.size()) * kLegendRow + 10);
    const double plotWidth = kWidth - kLeft - kRight, plotHeight = kPlotAreaHeight - kTop - kBottom;
    auto x = [&](double nm) { return kLeft + (nm - nmLow) / (nmHigh - nmLow) * plotWidth; };
    auto y = [&](double percent) { return kTop + plotHeight - percent / yHigh * plotHeight; };

    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      SvgNumber(kWidth, 0) + "\" height=\"" + SvgNumber(height, 0) + "\" viewBox=\"0 0 " +
                      SvgNumber(kWidth, 0) + " " + SvgNumber(height, 0) +
                      "\" font-family=\"sans-serif\" font-size=\"13\">\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += "<text x=\"" + SvgNumber(kLeft) + "\" y=\"30\" font-size=\"16\">" + Escaped(title) + "</text>\n";

    // Grid and tick labels.
    for (double v = 0; v <= yHigh + yStep / 2; v += yStep) {
        svg += "<line x1=\"" + SvgNumber(kLeft) + "\" x2=\"" + SvgNumber(kLeft + plotWidth) + "\" y1=\"" +
               SvgNumber(y(v)) + "\" y2=\"" + SvgNumber(y(v)) + "\" stroke=\"#dddddd\"/>\n";
        svg += "<text x=\"" + SvgNumber(kLeft - 8) + "\" y=\"" + SvgNumber(y(v) + 4) + "\" text-anchor=\"end\">" +
               SvgNumber(v, yStep < 1 ? 1 : 0) + "</text>\n";
    }
    for (double nm = std::ceil(nmLow / xStep) * xStep; nm <= nmHigh + xStep / 1000; nm += xStep) {
        svg += "<line x1=\"" + SvgNumber(x(nm)) + "\" x2=\"" + SvgNumber(x(nm)) + "\" y1=\"" + SvgNumber(kTop) +
               "\" y2=\"" + SvgNumber(kTop + plotHeight) + "\" stroke=\"#dddddd\"/>\n";
        svg += "<text x=\"" + SvgNumber(x(nm)) + "\" y=\"" + SvgNumber(kTop + plotHeight + 20) +
               "\" text-anchor=\"middle\">" + SvgNumber(nm, 0) + "</text>\n";
    }
    svg += "<rect x=\"" + SvgNumber(kLeft) + "\" y=\"" + SvgNumber(kTop) + "\" width=\"" + SvgNumber(plotWidth) +
           "\" height=\"" + SvgNumber(plotHeight) + "\" fill=\"none\" stroke=\"black\"/>\n";
    svg += "<text x=\"" + SvgNumber(kLeft + plotWidth / 2) + "\" y=\"" + SvgNumber(kPlotAreaHeight - 15) +
           "\" text-anchor=\"middle\">Wavelength (nm)</text>\n";
    svg += "<text transform=\"translate(20 " + SvgNumber(kTop + plotHeight / 2) +
           ") rotate(-90)\" text-anchor=\"middle\">Reflectance (%)</text>\n";
    if (curves.empty())
        svg += "<text x=\"" + SvgNumber(kLeft + plotWidth / 2) + "\" y=\"" + SvgNumber(kTop + plotHeight / 2) +
               "\" text-anchor=\"middle\">No curves were measured in this session</text>\n";

    for (std::size_t i = 0; i < curves.size(); ++i) {
        const PlotCurve& curve = curves[i];
        const char* colour = kColours[i % kColourCount];
        // Past eight curves the colours repeat with another dash pattern; past all of those,
        // the number at the curve's end and in the legend tells it.
        const std::string dashPattern = kDashes[(i / kColourCount) % kDashCount];
        const std::string dashes = dashPattern.empty() ? "" : " stroke-dasharray=\"" + dashPattern + "\"";
        const std::string number = std::to_string(i + 1);
        svg +=
            "<polyline fill=\"none\" stroke=\"" + std::string(colour) + "\" stroke-width=\"2\"" + dashes + " points=\"";
        for (std::size_t j = 0; j < curve.wavelengths.size() && j < curve.percent.size(); ++j)
            svg += (j ? " " : "") + SvgNumber(x(curve.wavelengths[j])) + "," + SvgNumber(y(curve.percent[j]));
        svg += "\"><title>" + Escaped(curve.label) + "</title></polyline>\n";
        const std::size_t last = std::min(curve.wavelengths.size(), curve.percent.size());
        if (last > 0)
            svg += "<text x=\"" + SvgNumber(x(curve.wavelengths[last - 1]) + 4) + "\" y=\"" +
                   SvgNumber(y(curve.percent[last - 1]) + 4) + "\" font-size=\"10\" fill=\"" + colour + "\">" + number +
                   "</text>\n";
        const double legendY = kTop + 10 + static_cast<double>(i) * kLegendRow;
        svg += "<line x1=\"" + SvgNumber(kWidth - kRight + 20) + "\" x2=\"" + SvgNumber(kWidth - kRight + 45) +
               "\" y1=\"" + SvgNumber(legendY) + "\" y2=\"" + SvgNumber(legendY) + "\" stroke=\"" + colour +
               "\" stroke-width=\"2\"" + dashes + "/>\n";
        svg += "<text x=\"" + SvgNumber(kWidth - kRight + 16) + "\" y=\"" + SvgNumber(legendY + 4) +
               "\" text-anchor=\"end\" font-size=\"10\">" + number + "</text>\n";
        svg += "<text x=\"" + SvgNumber(kWidth - kRight + 52) + "\" y=\"" + SvgNumber(legendY + 4) + "\">" +
               Escaped(curve.label) + "</text>\n";
    }
    svg += "</svg>\n";
    return svg;
}

}  // namespace nelko::console
