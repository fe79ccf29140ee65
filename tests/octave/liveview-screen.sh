#!/usr/bin/env bash
# liveview-screen.sh <octave dir> <virtual bus dir> <test dir> <png>
# Runs liveview_screen.m on an Xvfb display with Octave's Qt graphics.
# 77 (skipped) when there is no Xvfb or no Octave with a window system.
set -uo pipefail
octdir=$1 busdir=$2 testdir=$3 png=$4
command -v xvfb-run >/dev/null || { echo "SKIP: no xvfb-run"; exit 77; }
command -v octave >/dev/null || { echo "SKIP: no octave (the GUI build)"; exit 77; }
rm -f "$png"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# No -W: that would turn the window system off.  The X authority file is
# ours (xvfb-run's own clean-up fails while Qt still holds its directory).
LD_LIBRARY_PATH=$busdir KELBSIM_BOARDS=TIRK XDG_RUNTIME_DIR=$work \
  xvfb-run -a -f "$work/Xauthority" -s '-screen 0 1024x768x24' \
  octave --no-gui -q -f -H -p "$octdir" -p "$testdir" --eval "png = '$png'; liveview_screen" </dev/null
rc=$?
[ $rc -eq 0 ] && [ -s "$png" ] && echo "screenshot: $png"
exit $rc
