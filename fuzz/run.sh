#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) into build/fuzz and runs each for a bounded
# time, printing how many inputs it executed. Exits non-zero when a target
# crashes (the crashing input is kept in build/fuzz/crashes/).
#
#   fuzz/run.sh [SECONDS_PER_TARGET]      (default 30)
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-30}
out=${LARKSPUR_FUZZ_DIR:-$root/build/fuzz}
cxx=${CXX_FUZZ:-clang++}
targets=(decode_encoded_words jis_to_sjis_subject jis_to_sjis_line line_reader pop3_session
         server_field)

if ! command -v "$cxx" >/dev/null; then
  echo "fuzz: $cxx not found (Debian packages clang and libclang-rt-dev)"; exit 1
fi
mkdir -p "$out/obj" "$out/crashes"
flags=(-std=c++20 -g -O1 -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
       -I"$root")

# The code under test, compiled once; the sockets are stubbed.
objects=()
cd "$root"
for src in retrieval/decode.cpp retrieval/pop3_client.cpp fuzz/platform_stub.cpp; do
  obj="$out/obj/$(echo "$src" | tr / _).o"
  if [ ! -e "$obj" ] || [ "$root/$src" -nt "$obj" ] || [ "$root/retrieval/pop3_client.h" -nt "$obj" ]; then
    "$cxx" "${flags[@]}" -c "$root/$src" -o "$obj" || { echo "fuzz: cannot compile $src"; exit 1; }
  fi
  objects+=("$obj")
done

failed=0
for target in "${targets[@]}"; do
  exe="$out/fuzz_$target"
  if ! "$cxx" "${flags[@]}" -fsanitize=fuzzer "$root/fuzz/fuzz_$target.cpp" "${objects[@]}" -o "$exe"; then
    echo "fuzz: cannot build $target"; failed=1; continue
  fi
  corpus="$out/corpus/$target"
  mkdir -p "$corpus"
  seeds=()
  [ -d "$root/fuzz/seeds/$target" ] && seeds=("$root/fuzz/seeds/$target")
  log="$out/$target.log"
  (cd "$out/crashes" && "$exe" -max_total_time="$seconds" -print_final_stats=1 \
      -max_len=8192 -timeout=20 -rss_limit_mb=2048 "$corpus" "${seeds[@]}" >"$log" 2>&1)
  status=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  if [ "$status" -eq 0 ]; then
    echo "fuzz $target: ${runs:-?} executions in ${seconds} s, no crash"
  else
    echo "fuzz $target: FAILED (exit $status) after ${runs:-?} executions; log $log"
    grep -m 20 -E 'ERROR|SUMMARY|Test unit written' "$log"
    failed=1
  fi
done
exit "$failed"
