#!/usr/bin/python3
"""Checks the CIELAB values nelko-console prints against an independent implementation,
Debian's python3-colormath (its spectral -> XYZ -> Lab conversion), on every angle of two
measurements of the simulated instrument, for D50/2 and D65/10 degrees.

Usage: colour_against_colormath.py PATH/TO/nelko-console   (run in the output folder)

colormath sums over 340..830 nm; nelko-console holds the end values beyond the reported
wavelengths, so colormath gets the same continuation. Its delta-E functions are not used:
they fail with the numpy of Debian 12 (numpy.asscalar is gone)."""
import math
import re
import subprocess
import sys

from colormath.color_conversions import convert_color
from colormath.color_objects import LabColor, SpectralColor

LIMIT = 0.2  # delta E*ab
CONDITIONS = {"D50/2°": ("d50", "2"), "D65/10°": ("d65", "10")}

SESSION = ["Init|NelkoSimulator|", "Connect|", "Calibrate|", "CalibrateStep|Black|", "CalibrateStep|White|",
           "CalibrateStep|Green|", "GetWavelengths|"] + [f"GetWavelengthValue|{i}|" for i in range(31)]
for _ in range(2):
    SESSION += ["Measure|"] + [f"GetSpectralDataAll|{angle}|" for angle in range(6)]

COLOUR_LINE = re.compile(r"^\s+(D\d\d/\d+°)\s+X.*L\*\s*(\S+)\s+a\*\s*(\S+)\s+b\*\s*(\S+)")


def colormath_lab(wavelengths, percent, illuminant, observer):
    bands = {}
    for nm in range(340, 831, 10):
        # The nearest reported value, like the end values nelko-console holds.
        nearest = min(range(len(wavelengths)), key=lambda i: abs(wavelengths[i] - nm))
        bands[f"spec_{nm}nm"] = percent[nearest] / 100
    lab = convert_color(SpectralColor(observer=observer, illuminant=illuminant, **bands), LabColor,
                        target_illuminant=illuminant)
    return lab.lab_l, lab.lab_a, lab.lab_b


def main():
    run = subprocess.run([sys.argv[1], "--colour"] + SESSION, capture_output=True, text=True, check=False)
    if run.returncode != 0:
        sys.exit(f"nelko-console failed ({run.returncode}): {run.stderr}")
    lines = run.stdout.splitlines()
    wavelengths = []
    checked = 0
    worst = 0.0
    for i, line in enumerate(lines):
        if line.startswith("> GetWavelengthValue|"):
            wavelengths.append(float(lines[i + 1].removeprefix("< OK|")))
        if not line.startswith("> GetSpectralDataAll|"):
            continue
        percent = [float(v) for v in lines[i + 1].removeprefix("< OK|").split(";")]
        if len(percent) != len(wavelengths):
            sys.exit(f"{len(percent)} values for {len(wavelengths)} wavelengths in {line}")
        for follow in lines[i + 2:i + 6]:
            match = COLOUR_LINE.match(follow)
            if not match:
                continue
            ours = tuple(float(v) for v in match.group(2, 3, 4))
            theirs = colormath_lab(wavelengths, percent, *CONDITIONS[match.group(1)])
            difference = math.dist(ours, theirs)
            worst = max(worst, difference)
            checked += 1
            verdict = "ok" if difference <= LIMIT else "TOO FAR"
            print(f"{line[2:]:24} {match.group(1):8} ours {ours} colormath "
                  f"({theirs[0]:.2f}, {theirs[1]:.2f}, {theirs[2]:.2f}) dE*ab {difference:.3f} {verdict}")
            if difference > LIMIT:
                sys.exit(1)
    expected = 2 * 6 * len(CONDITIONS)
    if checked != expected:
        sys.exit(f"checked {checked} colours, expected {expected}:\n{run.stdout}")
    print(f"{checked} colours within {LIMIT} dE*ab of colormath (largest {worst:.3f})")


if __name__ == "__main__":
    main()
