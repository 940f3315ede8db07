#!/bin/sh
# Builds the libFuzzer targets (the `fuzz` preset, clang) and runs each for a few seconds.
# usage: scripts/fuzz-smoke.sh [seconds per target, default 30]
# Corpora grow in build-fuzz/corpus/<target>/; a crash leaves its input in build-fuzz/ and
# makes the script fail.
set -eu
seconds="${1:-30}"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
cmake --preset fuzz >/dev/null
targets="fuzz_header_reader fuzz_dns_report fuzz_merge_writer fuzz_source_pattern"
# shellcheck disable=SC2086
cmake --build --preset fuzz --target $targets
status=0
for target in $targets; do
  corpus="build-fuzz/corpus/$target"
  mkdir -p "$corpus"
  echo "== $target: $seconds s"
  if ! (cd build-fuzz && "./fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
        "corpus/$target" 2>&1 | grep -E "^(Done [0-9]+ runs|stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY)"); then
    :
  fi
  if ls build-fuzz/crash-* build-fuzz/leak-* build-fuzz/timeout-* >/dev/null 2>&1; then
    echo "!! $target left a failing input in build-fuzz/"
    status=1
  fi
done
exit "$status"
