#!/usr/bin/env bash
# GUI tests of larkspur.exe: runs the real program under Wine in a virtual X
# display and drives it as a person would, with the mouse (xdotool), looking
# at sampled pixels of screen shots and at the files it leaves.
#
# usage: tests/gui/run.sh BUILD_DIR      (a Windows build, e.g. build/windows)
#
# Needs larkspur.exe, larkspur-gui-probe.exe and larkspur-pop3d.exe in
# BUILD_DIR/bin. Screen shots go to BUILD_DIR/gui-screenshots/, working
# folders and logs to BUILD_DIR/gui-tests/. Exit code 0 when every check
# passed. Bounded to about four minutes, plus the DPI cases (dpi_tests.sh,
# screen shots in BUILD_DIR/gui-screenshots/dpi-N/) and the settings
# dialogs' own suite (tests/gui/dialogs/run.sh), which this script runs
# afterwards, and the drop of an mbox on the window (drop_test.sh, screen
# shots drop-first.png and drop-again.png).
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build=$(cd "$1" 2>/dev/null && pwd) || { echo "no build folder $1" >&2; exit 2; }
for exe in larkspur.exe larkspur-gui-probe.exe larkspur-pop3d.exe; do
  if [ ! -f "$build/bin/$exe" ]; then
    echo "missing $build/bin/$exe: build the Windows preset first" >&2
    echo "gui: 0 passed, 1 failed"
    exit 1
  fi
done

export WINEPREFIX=$build/wineprefix-gui
timeout -k 10 240 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$here/gui_tests.sh" "$build"
status=$?
if [ $status -eq 124 ] || [ $status -eq 137 ]; then
  echo "GUI tests timed out"
  echo "gui: 0 passed, 1 failed"
fi
# Whatever is left of this prefix's Wine processes goes.
WINEPREFIX=$build/wineprefix-gui wineserver -k >/dev/null 2>&1 || true

# The window and its dialogs at 96, 144 and 192 DPI, on a screen large
# enough for the biggest dialog at 192 DPI.
if [ -f "$here/dpi_tests.sh" ]; then
  timeout -k 10 300 xvfb-run -a -s "-screen 0 1600x1200x24" bash "$here/dpi_tests.sh" "$build"
  dpi_status=$?
  if [ $dpi_status -eq 124 ] || [ $dpi_status -eq 137 ]; then
    echo "GUI DPI tests timed out"
    echo "gui dpi: 0 passed, 1 failed"
  fi
  WINEPREFIX=$build/wineprefix-gui wineserver -k >/dev/null 2>&1 || true
  [ $status -eq 0 ] && status=$dpi_status
fi

# A drop of an mbox on the window: imported under the progress dialog.
if [ -x "$here/drop_test.sh" ]; then
  timeout -k 10 240 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$here/drop_test.sh" "$build"
  drop_status=$?
  [ $drop_status -eq 124 ] || [ $drop_status -eq 137 ] && echo "gui drop: 0 passed, 1 failed"
  WINEPREFIX=$build/wineprefix-drop wineserver -k >/dev/null 2>&1 || true
  [ $status -eq 0 ] && status=$drop_status
fi

# The settings dialogs have their own suite; this script runs both.
if [ -x "$here/dialogs/run.sh" ]; then
  "$here/dialogs/run.sh" "$build"
  dialogs_status=$?
  [ $status -eq 0 ] && status=$dialogs_status
fi
exit $status
