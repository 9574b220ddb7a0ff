#include "Reflectance.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace nelko::console {
namespace {

constexpr double kShortestNm = 360;
constexpr double kLongestNm = 830;
// Summing colour-matching functions over coarser steps than this misses their peaks.
constexpr double kCoarsestStepNm = 10;
constexpr double kStepToleranceNm = 0.01;
// Fluorescent samples pass 100 %; twice that is a fault, not a colour.
constexpr double kHighestPercent = 200;

std::string Number(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

std::string At(const std::vector<double>& wavelengths, std::size_t i) { return "at " + Number(wavelengths[i]) + " nm"; }

}  // namespace

ReflectanceScale DetectScale(const std::vector<double>& values) {
    const bool anyAbove = std::any_of(values.begin(), values.end(), [](double v) { return v > 1.5; });
    return anyAbove ? ReflectanceScale::Percent : ReflectanceScale::Fraction;
}

const char* ScaleName(ReflectanceScale scale) { return scale == ReflectanceScale::Percent ? "%" : "factors 0..1"; }

CurveCheck CheckCurve(const std::vector<double>& wavelengths, const std::vector<double>& values,
                      std::optional<ReflectanceScale> scale) {
    if (wavelengths.empty()) return {std::nullopt, "the driver reports no wavelengths"};
    if (values.size() != wavelengths.size())
        return {std::nullopt,
                std::to_string(values.size()) + " values for " + std::to_string(wavelengths.size()) + " wavelengths"};
    for (std::size_t i = 0; i < wavelengths.size(); ++i)
        if (!std::isfinite(wavelengths[i]) || wavelengths[i] < kShortestNm || wavelengths[i] > kLongestNm)
            return {std::nullopt, "wavelength " + std::to_string(i) + " is " + Number(wavelengths[i]) +
                                      " nm, outside " + Number(kShortestNm) + ".." + Number(kLongestNm) + " nm"};
    const double step = wavelengths.size() > 1 ? wavelengths[1] - wavelengths[0] : 0;
    for (std::size_t i = 1; i < wavelengths.size(); ++i) {
        const double gap = wavelengths[i] - wavelengths[i - 1];
        if (gap <= 0) return {std::nullopt, "the wavelengths do not rise " + At(wavelengths, i)};
        if (std::fabs(gap - step) > kStepToleranceNm)
            return {std::nullopt, "the wavelengths are not evenly spaced " + At(wavelengths, i)};
    }
    if (step > kCoarsestStepNm + kStepToleranceNm)
        return {std::nullopt, "steps of " + Number(step) + " nm are coarser than " + Number(kCoarsestStepNm) + " nm"};

    for (std::size_t i = 0; i < values.size(); ++i) {
        if (std::isnan(values[i]))
            return {std::nullopt, "the value " + At(wavelengths, i) + " is not a number (" + Number(values[i]) + ")"};
        if (std::isinf(values[i]))
            return {std::nullopt, "the value " + At(wavelengths, i) + " is infinite (" + Number(values[i]) + ")"};
        if (values[i] < 0)
            return {std::nullopt, "the value " + At(wavelengths, i) + " is negative (" + Number(values[i]) + ")"};
    }

    CheckedCurve curve;
    curve.scaleDetected = !scale;
    curve.scale = scale ? *scale : DetectScale(values);
    const double divisor = curve.scale == ReflectanceScale::Percent ? 100 : 1;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (values[i] / divisor * 100 > kHighestPercent)
            return {std::nullopt, "the value " + At(wavelengths, i) + " is " + Number(values[i]) +
                                      (curve.scale == ReflectanceScale::Percent ? " %" : "") + ", above " +
                                      Number(kHighestPercent) + " %"};
    curve.wavelengths = wavelengths;
    curve.step = step;
    for (const double value : values) curve.factors.push_back(value / divisor);
    return {std::move(curve), ""};
}

}  // namespace nelko::console
