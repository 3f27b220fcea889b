#!/usr/bin/env bash
# The search page in a real browser: builds a small archive with its search
# index with the sample program of the native build, then checks the page
# (opened from file://) and the tool against a brute-force scan. Screenshots
# go to <build>/browser-search/.
# Usage: tests/browser/search_run.sh [BUILD_FOLDER]   (default build/native)
# shellcheck source=tests/browser/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
program="$build/bin/larkspur_search_sample"
cli="$build/bin/larkspur-cli"
out="$build/browser-search"
need_programs "$program" "$cli"
fresh_archive "$out"
(cd "$out/archive" && "$program")
python3 "$root/tests/browser/search_check.py" "$out/archive" "$out" "$cli"
