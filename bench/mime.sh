#!/usr/bin/env bash
# Mail decoder figures (see bench/mime_bench.cpp for each one): how the
# decoders scale from 1 MB to 16 MB hostile messages, and the peak memory of
# decoding a deeply nested and a large base64 message (a process each).
# Usage: bench/mime.sh BUILD_FOLDER   (the build bench/run makes)
set -euo pipefail
build=$(cd "$1" && pwd)
bench=$build/bin/larkspur_bench_mime
"$bench" scaling
"$bench" memory nested
"$bench" memory base64
