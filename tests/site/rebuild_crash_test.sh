#!/usr/bin/env bash
# A rebuild killed at a random moment (SIGKILL, 30 times) leaves every page
# under its real name either as it was before or as the rebuild makes it,
# never torn; the next rebuild then leaves exactly what an uninterrupted one
# leaves.
#   rebuild_crash_test.sh PATH/TO/larkspur-cli [ROUNDS]
set -euo pipefail
cli=$1
rounds=${2:-30}
# shellcheck source=tests/support/archive.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/archive.sh"
scratch_folder lksite-crash

# An archive with pages made from older logs: three lists of 300 logs.
old=$dir/old
new_archive "$cli" "$old" A B C
for list in A B C; do
  awk -v list="$list" -v dir="$old/LKset/$list" 'BEGIN {
    pad = sprintf("%100s", ""); gsub(/ /, "h", pad)
    for (i = 100; i < 400; i++) {
      file = dir "/" i ".log"
      printf "[%s] issue %d\n\n\nFrom: a@b.jp\nSubject: x\n\n%s\nbody %d http://x.jp/%d\n", list, i * 7919 % 1000, pad, i, i > file
      close(file)
    }
  }' 
done
"$cli" -C "$old" rebuild --yes >/dev/null 2>&1
# Then the logs change, so that every new page differs from its old one.
for log in "$old"/LKset/*/*.log; do echo "changed" >>"$log"; done
echo orphan >"$old/LKset/A/web/orphan.htm"

# What an uninterrupted rebuild leaves.
cp -a "$old" "$dir/new"
start=$(date +%s%N)
"$cli" -C "$dir/new" rebuild --yes >/dev/null 2>&1
took=$(( $(date +%s%N) - start ))  # nanoseconds: the kills fall within this

# search/sources.txt records the stamps of the logs it was built from, which
# differ between copies of one archive.
ignore=(-x '~site.lock' -x sources.txt)
cut_short=0
for round in $(seq 1 "$rounds"); do
  work=$dir/work
  rm -rf "$work"
  cp -a "$old" "$work"
  "$cli" -C "$work" rebuild --yes >/dev/null 2>&1 &
  pid=$!
  sleep "$(awk -v r="$RANDOM" -v t="$took" 'BEGIN { printf "%.4f", r / 32768 * t / 1e9 }')"
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  diff -rq "${ignore[@]}" "$dir/new" "$work" >/dev/null || cut_short=$((cut_short + 1))
  for page in "$work"/LKset/*/web/*.htm; do
    [ -e "$page" ] || continue
    rel=${page#"$work"/}
    cmp -s "$page" "$old/$rel" || cmp -s "$page" "$dir/new/$rel" ||
      { echo "FAIL: round $round: $rel is neither old nor new"; exit 1; }
  done
  "$cli" -C "$work" rebuild --yes >/dev/null 2>&1 || { echo "FAIL: round $round: the next rebuild failed"; exit 1; }
  diff -r "${ignore[@]}" "$dir/new" "$work" >"$dir/diff" ||
    { echo "FAIL: round $round: the next rebuild left another archive:"; head -20 "$dir/diff"; exit 1; }
done
echo "PASS ($cut_short of $rounds rebuilds were cut short)"
