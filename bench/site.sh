#!/usr/bin/env bash
# Site generator figures over a generated archive of 30 lists x 1,000 logs:
#   rebuild_30x1000  the full rebuild            (median of 5 runs, seconds)
#   new_log_30x1000  one new log: update + sort  (median of 21 runs, milliseconds)
# Usage: bench/site.sh BUILD_FOLDER   (the build bench/run makes)
set -euo pipefail
build=$(cd "$1" && pwd)
"$build/bin/larkspur_bench_site" "$build/bin/set" \
  "${LARKSPUR_BENCH_REBUILD_RUNS:-5}" "${LARKSPUR_BENCH_NEW_LOG_RUNS:-21}"
