// The CIE colour-matching functions and daylight illuminants the colour figures are summed
// over, at 5 nm from 380 to 780 nm (CieTables.cpp names where each column comes from).
#pragma once

#include <array>

namespace nelko::console {

struct CieRow {
    double nm;
    double x2, y2, z2;     // CIE 1931 2 degree standard observer
    double x10, y10, z10;  // CIE 1964 10 degree standard observer
    double d50, d65;       // relative spectral power, 100 at 560 nm
};

inline constexpr double kCieFirstNm = 380;
inline constexpr double kCieLastNm = 780;
inline constexpr double kCieStepNm = 5;

extern const std::array<CieRow, 81> kCieTable;

}  // namespace nelko::console
