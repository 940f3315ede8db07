#!/usr/bin/env bash
# Builds the libFuzzer targets (the `fuzz` preset, clang) and runs each for a few seconds.
# usage: scripts/fuzz-smoke.sh [seconds per target, default 30]
# Corpora grow in build-fuzz/corpus/<target>/. Any finding fails the script: a fuzzer that ends
# with a non-zero status (a crash, a leak, out of memory, a time-out, a sanitizer report) or
# leaves any input in build-fuzz/findings/<target>/, whatever its kind.
set -euo pipefail
seconds="${1:-30}"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
cmake --preset fuzz >/dev/null
targets=(fuzz_header_reader fuzz_dns_report fuzz_merge_writer fuzz_source_pattern)
cmake --build --preset fuzz --target "${targets[@]}"
status=0
for target in "${targets[@]}"; do
  corpus="build-fuzz/corpus/$target"
  findings="build-fuzz/findings/$target"
  rm -rf "$findings"
  mkdir -p "$corpus" "$findings"
  echo "== $target: $seconds s"
  log="build-fuzz/$target.log"
  code=0
  (cd build-fuzz && "./fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
      -rss_limit_mb=2048 -artifact_prefix="findings/$target/" "corpus/$target") >"$log" 2>&1 ||
    code=$?
  grep -E "^(Done [0-9]+ runs|stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY)" \
    "$log" || true
  if [ "$code" -ne 0 ] || [ -n "$(ls -A "$findings")" ]; then
    echo "!! $target ended with status $code; findings: $(ls -A "$findings" | tr '\n' ' ')"
    tail -n 40 "$log"
    status=1
  fi
done
exit "$status"
