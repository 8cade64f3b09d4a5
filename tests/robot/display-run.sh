#!/usr/bin/env bash
# Runs a Windows program of a build tree under Wine on the X display that xvfb-run gave this
# run, in the tree's prefix wine-display (never the display-less prefix of the unit tests: the
# first program of a prefix decides whether windows can appear). Ends that prefix's Wine server
# afterwards, so that the next run starts clean on its own display.
#   display-run.sh BUILD_TREE PROGRAM [ARGUMENTS...]
build=$1
shift
export TESSEL_WINEPREFIX="$build/wine-display"
export WINEPREFIX="$TESSEL_WINEPREFIX"
export TESSEL_WINE_DISPLAY="${DISPLAY:?display-run.sh needs an X display (xvfb-run)}"
export TESSEL_NEED_DISPLAY=1
"$build/wine-run" "$@"
code=$?
wineserver -k >/dev/null 2>&1
exit $code
