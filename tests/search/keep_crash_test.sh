#!/usr/bin/env bash
# A rebuild that keeps the search index's generation and derives the logs
# stored since (by an import) into a new segment, killed at a random moment
# (SIGKILL, ROUNDS times): the index left answers every query as an
# uninterrupted rebuild does (old or new, it holds the same logs), and so
# does the next rebuild.
#   keep_crash_test.sh PATH/TO/larkspur-cli [ROUNDS]
set -euo pipefail
cli=$1
rounds=${2:-12}
# shellcheck source=tests/support/archive.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/archive.sh"
scratch_folder lksearch-crash
queries=(word0 word3 word6 body "issue 1" extra)

# 150 messages for the lists, imported after the index was built.
for i in $(seq 0 149); do
  list=$(printf 'ABC' | cut -c$((i % 3 + 1)))
  printf 'From a@b.jp Mon Jan  5 10:00:00 2026\nFrom: a@b.jp\nSubject: [%s] extra %d\nDate: Mon, 5 Jan 2026 10:%02d:%02d +0900\n\nextra body %d word%d\n\n' \
    "$list" "$i" $((i / 60)) $((i % 60)) "$i" $((i % 7))
done >"$dir/more.mbox"

# An archive of three lists of 300 logs with its index, then the import.
make_archive() {
  local archive=$1
  new_archive "$cli" "$archive" A B C
  for list in A B C; do
    awk -v list="$list" -v dir="$archive/LKset/$list" 'BEGIN {
      for (i = 0; i < 300; i++) {
        file = sprintf("%s/2025%02d%02d%02d%02d00_%d.log", dir, 1 + i % 12, 1 + i % 28, i % 24, i % 60, i)
        printf "[%s] issue %d\n\n\nFrom: a@b.jp\nSubject: x\n\nbody %d word%d\n", list, i, i, i % 7 > file
        close(file)
      }
    }'
  done
  "$cli" -C "$archive" rebuild --yes >/dev/null 2>&1
  "$cli" -C "$archive" import "$dir/more.mbox" >/dev/null 2>&1
}

answers() {
  local query
  for query in "${queries[@]}"; do
    # shellcheck disable=SC2086
    "$cli" -C "$1" search $query 2>/dev/null | sort
  done
}

# What an uninterrupted rebuild answers; it keeps the generation.
make_archive "$dir/ref"
generation=$(head -c 27 "$dir/ref/search/state.js")
start=$(date +%s%N)
"$cli" -C "$dir/ref" rebuild --yes >/dev/null 2>&1
took=$(( $(date +%s%N) - start ))
[ "$(head -c 27 "$dir/ref/search/state.js")" = "$generation" ] ||
  { echo "FAIL: the rebuild did not keep the generation"; exit 1; }
grep -q '^LS.seg(' "$dir/ref/search/state.js" || { echo "FAIL: the rebuild made no segment"; exit 1; }
answers "$dir/ref" >"$dir/expected"
[ "$(grep -c extra "$dir/expected")" -gt 0 ] || { echo "FAIL: the imported messages are not found"; exit 1; }

cut_short=0  # kills before the kept state was written
for round in $(seq 1 "$rounds"); do
  work=$dir/work
  rm -rf "$work"
  make_archive "$work"
  "$cli" -C "$work" rebuild --yes >/dev/null 2>&1 &
  pid=$!
  sleep "$(awk -v r="$RANDOM" -v t="$took" 'BEGIN { printf "%.4f", r / 32768 * t / 1e9 }')"
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  grep -q '^LS.tail(' "$work/search/state.js" && cut_short=$((cut_short + 1))
  # The logs are the same before and after: so must the answers be, of
  # whichever index the kill left.
  answers "$work" >"$dir/got"
  diff "$dir/expected" "$dir/got" >"$dir/diff" ||
    { echo "FAIL: round $round: the index the kill left answers otherwise:"; head -20 "$dir/diff"; exit 1; }
  "$cli" -C "$work" rebuild --yes >/dev/null 2>&1 || { echo "FAIL: round $round: the next rebuild failed"; exit 1; }
  answers "$work" >"$dir/got"
  diff "$dir/expected" "$dir/got" >"$dir/diff" ||
    { echo "FAIL: round $round: the next rebuild answers otherwise:"; head -20 "$dir/diff"; exit 1; }
done
echo "PASS ($rounds rebuilds killed, $cut_short before the kept index was written)"
