#!/usr/bin/env bash
# A receive job is refused while another process holds the working folder's
# job lock: larkspur-cli prints the notice, prints no status, writes nothing
# and exits 1. Once the lock is free, the same command runs (and, with no
# account, ends with its status 10 line).
#   second_process_refused.sh PATH/TO/larkspur-cli
set -euo pipefail
cli=$1
command -v flock >/dev/null || { echo "SKIP: flock(1) missing"; exit 77; }
dir=$(mktemp -d "${TMPDIR:-/tmp}/lkcli-lock.XXXXXX")
trap 'rm -rf "$dir"' EXIT
mkdir -p "$dir/work"
: > "$dir/work/~receive.lock"

# flock(1) holds the lock while larkspur-cli tries to take it in its own process.
code=0
flock "$dir/work/~receive.lock" sh -c "\"$cli\" -C \"$dir/work\" receive >\"$dir/out\" 2>\"$dir/err\"" || code=$?
[ "$code" = 1 ] || { echo "FAIL: exit code $code, expected 1"; exit 1; }
[ ! -s "$dir/out" ] || { echo "FAIL: stdout not empty:"; cat "$dir/out"; exit 1; }
grep -q "受信処理が実行中です" "$dir/err" || { echo "FAIL: no notice:"; cat "$dir/err"; exit 1; }
[ -z "$(ls "$dir/work/LKset")" ] || { echo "FAIL: LKset not empty"; exit 1; }

code=0
"$cli" -C "$dir/work" receive >"$dir/out" 2>"$dir/err" || code=$?
[ "$code" = 1 ] && [ "$(cat "$dir/out")" = "POP3設定ファイル読み込み失敗" ] ||
  { echo "FAIL: with the lock free: exit $code"; cat "$dir/out" "$dir/err"; exit 1; }
echo "PASS"
