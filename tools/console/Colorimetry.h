// CIE colour of a measured reflectance curve: tristimulus values summed over the CIE tables
// here, CIELAB, LCh and colour differences from Little CMS, and the sRGB value of the colour.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Reflectance.h"

namespace nelko::console {

enum class Illuminant { D50, D65 };
enum class Observer { TwoDegree, TenDegree };

struct Condition {
    Illuminant illuminant = Illuminant::D50;
    Observer observer = Observer::TwoDegree;
};

// "D50/2°"
std::string ConditionName(const Condition& condition);

struct Xyz {
    double x = 0, y = 0, z = 0;
};
struct Lab {
    double l = 0, a = 0, b = 0;
};
struct Lch {
    double l = 0, c = 0, h = 0;
};

struct Colour {
    Xyz xyz;    // Y = 100 for a perfect white
    Xyz white;  // the perfect white under the same condition and wavelengths
    Lab lab;
    Lch lch;
};

struct ColourResult {
    std::optional<Colour> colour;
    std::string problem;  // why there is none
};

// Sums reflectance x illuminant x colour-matching function at the curve's own wavelengths
// from 380 to 780 nm: wavelengths the curve does not reach take its nearest end value, and
// table values between the tables' 5 nm rows are interpolated linearly. Refuses curves that
// do not cover 400..700 nm, where nearly all of a colour lies.
ColourResult ColourOf(const CheckedCurve& curve, const Condition& condition);

double DeltaEab(const Lab& first, const Lab& second);
double DeltaE00(const Lab& first, const Lab& second);

struct Srgb {
    int r = 0, g = 0, b = 0;  // 0..255
    bool clipped = false;     // the colour lies outside sRGB and was clipped into it
};

// sRGB (IEC 61966-2-1) is defined on D65 and the 2 degree observer. The colour's own white
// is taken as sRGB white, so that a grey is shown grey whatever the summation.
Srgb SrgbOf(const Colour& d65TwoDegree);

}  // namespace nelko::console
