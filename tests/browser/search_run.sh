#!/usr/bin/env bash
# The search page in a real browser: builds a small archive with its search
# index with the sample program of the native build, then checks the page
# (opened from file://) and the tool against a brute-force scan. Screenshots
# go to <build>/browser-search/.
# Usage: tests/browser/search_run.sh [BUILD_FOLDER]   (default build/native)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:-$root/build/native}" && pwd)
program="$build/bin/larkspur_search_sample"
cli="$build/bin/larkspur-cli"
out="$build/browser-search"
[ -x "$program" ] && [ -x "$cli" ] || { echo "missing $program or $cli (build the native preset first)" >&2; exit 1; }
rm -rf "$out"
mkdir -p "$out/archive"
(cd "$out/archive" && "$program")
python3 "$root/tests/browser/search_check.py" "$out/archive" "$out" "$cli"
