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
         server_field records convert_log_body log_text sort_link_page mime mail_date
         scan_cache stored_ids message_id search_text search_pack)

# The code each target links, with the fakes the tests share (tests/fakes/):
# the decoders and the POP3 client with the sockets stubbed (net_stub.cpp);
# the readers of stored files over a file system in memory (memory_files.cpp)
# and, for the page code, the store and lock stubbed (site_stubs.cpp); the
# MIME decoder and what uses it with the platform's real charset conversions
# (iconv).
pop3_sources="retrieval/decode.cpp retrieval/pop3_client.cpp tests/fakes/net_stub.cpp"
page_fakes="tests/fakes/memory_files.cpp tests/fakes/site_stubs.cpp platform/common/names.cpp"
mime_sources="retrieval/mime.cpp retrieval/mime_text.cpp retrieval/mime_html.cpp retrieval/decode.cpp
          retrieval/cp932_tables.cpp settings/records.cpp
          platform/common/mail_charset.cpp platform/posix/charset_posix.cpp platform/posix/text_posix.cpp
          platform/common/names.cpp tests/fakes/jp_cp932.cpp"
# The id files' readers and the ids of messages: the MIME decoder's header
# reading, the store's paths and the file system in memory.
ids_sources="job/seen_messages.cpp settings/store.cpp $mime_sources
          tests/fakes/memory_files.cpp"
declare -A sources=(
  [decode_encoded_words]=$pop3_sources [jis_to_sjis_subject]=$pop3_sources
  [jis_to_sjis_line]=$pop3_sources [line_reader]=$pop3_sources [pop3_session]=$pop3_sources
  [server_field]=$pop3_sources
  [records]="settings/records.cpp"
  [mail_date]="retrieval/mail_date.cpp"
  [convert_log_body]="site/log_page.cpp $page_fakes"
  [log_text]="site/list_pages.cpp site/log_page.cpp $page_fakes"
  [sort_link_page]="site/link_sort.cpp settings/records.cpp $page_fakes"
  [mime]=$mime_sources
  [scan_cache]=$ids_sources [stored_ids]=$ids_sources [message_id]=$ids_sources
  [search_text]="search/search_text.cpp site/list_pages.cpp site/log_page.cpp $page_fakes
                 tests/fakes/search_stub.cpp"
  [search_pack]="search/search_pack.cpp"
)
# Libraries a target links beside its sources.
declare -A libraries=([search_pack]="-lz")

if ! command -v "$cxx" >/dev/null; then
  echo "fuzz: $cxx not found (Debian packages clang and libclang-rt-dev)"; exit 1
fi
mkdir -p "$out/obj" "$out/crashes"
flags=(-std=c++20 -g -O1 -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
       -I"$root")

# Each source is compiled once into build/fuzz/obj, again when it or any
# header of the core is newer than its object.
cd "$root"
object_of() {
  local src=$1 obj
  obj="$out/obj/$(echo "$src" | tr / _).o"
  if [ ! -e "$obj" ] || [ "$root/$src" -nt "$obj" ] ||
     [ -n "$(find platform settings site search retrieval job tests/fakes -name '*.h' -newer "$obj" -print -quit)" ]; then
    "$cxx" "${flags[@]}" -c "$root/$src" -o "$obj" || { echo "fuzz: cannot compile $src" >&2; return 1; }
  fi
  echo "$obj"
}

failed=0
for target in "${targets[@]}"; do
  exe="$out/fuzz_$target"
  objects=()
  for src in ${sources[$target]}; do
    obj=$(object_of "$src") || { failed=1; continue 2; }
    objects+=("$obj")
  done
  # shellcheck disable=SC2086
  if ! "$cxx" "${flags[@]}" -fsanitize=fuzzer "$root/fuzz/fuzz_$target.cpp" "${objects[@]}" ${libraries[$target]:-} -o "$exe"; then
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
