# Sourced first by the project's scripts: strict about unset variables and failed pipes,
# working in the repository's root ($root), with $jobs parallel builds (NELKO_JOBS, or one
# per processor). A script that wants to stop at the first failed command adds `set -e`.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 2
root=$PWD
jobs=${NELKO_JOBS:-$(nproc)}
