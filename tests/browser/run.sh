#!/usr/bin/env bash
# The generated archive in a real browser: builds a small archive with
# Japanese subjects with the sample program of the native build, opens each
# list's index.htm in headless Chromium and checks the link page, the frame
# named main and the Japanese text. Screenshots go to <build>/browser/.
# Usage: tests/browser/run.sh [BUILD_FOLDER]   (default build/native)
# Exit code 0 when every check holds.
# shellcheck source=tests/browser/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
program="$build/bin/larkspur_sample_archive"
seeds="$build/bin/set"
out="$build/browser"

need_programs "$program"
[ -d "$seeds" ] || { echo "missing $seeds" >&2; exit 1; }

fresh_archive "$out"
mkdir -p "$out/archive/set"
cp "$seeds"/*.htm "$out/archive/set/"
(cd "$out/archive" && "$program")
python3 "$root/tests/browser/check_archive.py" "$out/archive" "$out"
