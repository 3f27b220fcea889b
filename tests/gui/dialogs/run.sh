#!/usr/bin/env bash
# GUI tests of the settings dialogs of larkspur.exe (account, lists, log
# deletion): runs the real program under Wine in a virtual X display, opens
# each dialog from its button and drives it with typed input and clicks
# (xdotool), then checks the record files, the list boxes, the message boxes
# and the layout, and saves screen shots of each dialog.
#
# usage: tests/gui/dialogs/run.sh BUILD_DIR   (a Windows build, e.g. build/windows)
#
# Needs BUILD_DIR/bin/larkspur.exe; builds its own probe with mingw-w64.
# Screen shots go to BUILD_DIR/gui-screenshots/, working folders and logs to
# BUILD_DIR/gui-dialogs/. DIALOG_CASES="account list log no_list" (the
# default) picks groups of cases. Exit code 0 when every check passed. Bounded to
# under five minutes.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../../.." && pwd)
if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build=$(cd "$1" 2>/dev/null && pwd) || { echo "no build folder $1" >&2; exit 2; }
if [ ! -f "$build/bin/larkspur.exe" ]; then
  echo "missing $build/bin/larkspur.exe: build the Windows preset first" >&2
  echo "dialogs: 0 passed, 1 failed"
  exit 1
fi

# The probe that reads the dialogs from inside Wine.
mkdir -p "$build/gui-dialogs"
probe=$build/gui-dialogs/dialog-probe.exe
if [ ! -f "$probe" ] || [ "$here/dialog_probe.cpp" -nt "$probe" ]; then
  x86_64-w64-mingw32-g++ -std=c++20 -O1 -Wall -Wextra -Werror -municode -static \
    -o "$probe" "$here/dialog_probe.cpp" -luser32 || {
    echo "dialogs: 0 passed, 1 failed"
    exit 1
  }
fi

# A prefix of its own, with a virtual desktop so that screen shots show the
# captions and every window (the probe's too) shares one desktop.
export WINEPREFIX=$build/wineprefix-dialogs WINEARCH=win64 WINEDEBUG=-all LC_ALL= LANG=ja_JP.UTF-8
"$root/scripts/wine-prefix" "$WINEPREFIX"
if [ ! -f "$WINEPREFIX/.larkspur-desktop" ]; then
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 1024x768 /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.larkspur-desktop"
fi

timeout -k 10 280 xvfb-run -a -s "-screen 0 1280x1024x24" \
  bash "$here/dialog_tests.sh" "$build" "$probe"
status=$?
if [ $status -eq 124 ] || [ $status -eq 137 ]; then
  echo "dialog GUI tests timed out"
  echo "dialogs: 0 passed, 1 failed"
fi
wineserver -k >/dev/null 2>&1 || true
exit $status
