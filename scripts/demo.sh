#!/usr/bin/env bash
# Builds the add-in, the simulated instrument and the console tool, then runs a whole
# calibration and measurement session through the add-in's local entry, with the colour of
# each curve, the difference between the two measurements and an SVG plot of the curves.
# Installs the Debian packages it needs when they are missing (as root).
source "$(dirname "$0")/preamble.sh"
set -e

bash scripts/install-deps.sh core
cmake -S "$root" -B "$root/build/demo" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNELKO_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build/demo" -j"$(nproc)" --target nelko-console NelkoClientDriver NelkoSimulator
cd "$root/build/demo/bin"
export TMPDIR=${TMPDIR:-/tmp}
./nelko-console --chart --colour --compare 0 1 --plot "$root/build/demo/demo-curves.svg" \
  --script "$root/tools/console/demo-session.txt" "$@"
echo
echo "Trace log of this session: $TMPDIR/NelkoClientDriver.log"
echo "Its curves, for a browser: $root/build/demo/demo-curves.svg"
