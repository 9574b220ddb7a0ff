#!/usr/bin/env bash
# Shuts down the persistent wineserver (and the Wine helper processes) that
# scripts/wine-run.sh keeps alive for the prefix in $NELKO_WINEPREFIX. Safe to call when
# none is running. Use it at the end of a test run.
exec "$(dirname "${BASH_SOURCE[0]}")/wine-run.sh" --stop
