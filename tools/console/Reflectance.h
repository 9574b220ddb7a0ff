// A measured curve checked before anything is computed or drawn from it: the driver's
// wavelengths and its values, which drivers give in percent or as factors 0..1.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace nelko::console {

enum class ReflectanceScale { Percent, Fraction };

struct CheckedCurve {
    std::vector<double> wavelengths;  // nm, rising in even steps
    std::vector<double> factors;      // reflectance factors, 1 = perfect white
    ReflectanceScale scale = ReflectanceScale::Percent;
    bool scaleDetected = true;  // false when the user named it
    double step = 0;            // nm between wavelengths (0 with a single wavelength)
};

struct CurveCheck {
    std::optional<CheckedCurve> curve;
    std::string problem;  // why there is no curve
};

// Percent when any value exceeds 1.5 (no real sample reflects 150 %), factors otherwise.
ReflectanceScale DetectScale(const std::vector<double>& values);

// Refuses what no colour can honestly be computed from: no wavelengths, a count that
// does not match, wavelengths out of 360..830 nm, unordered, unevenly spaced or coarser
// than 10 nm, and values that are not finite, negative or above 200 %.
CurveCheck CheckCurve(const std::vector<double>& wavelengths, const std::vector<double>& values,
                      std::optional<ReflectanceScale> scale = std::nullopt);

const char* ScaleName(ReflectanceScale scale);

}  // namespace nelko::console
