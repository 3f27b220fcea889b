#!/usr/bin/env bash
# Full-text search figures (see bench/search_bench.cpp and
# bench/search_timing.py): over 30 lists x 1,000 logs with a realistic
# Japanese vocabulary in $TMPDIR (default /tmp), the rebuild with and without
# the index, the index size, one stored log with the index, then the search
# page in headless Chromium and the tool, each over 20 fixed queries.
# Usage: bench/search.sh BUILD_FOLDER   (the build bench/run makes)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "$1" && pwd)
[ -x /usr/bin/chromium ] || { echo "chromium is not installed" >&2; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/larkspur-search-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/bin/larkspur_bench_search" "$build/bin/set" "$work/archive" \
  "${LARKSPUR_BENCH_REBUILD_RUNS:-3}" "${LARKSPUR_BENCH_NEW_LOG_RUNS:-21}"
python3 "$root/bench/search_timing.py" "$work/archive" "$build/bin/larkspur-cli"
