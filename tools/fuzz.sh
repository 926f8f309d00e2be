#!/usr/bin/env bash
# Replays each fuzz target's seed corpus, then fuzzes it for a while.
# Usage: tools/fuzz.sh [SECONDS per target] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
build=${2:-build/asan}

shopt -s nullglob
targets=("$build"/bin/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no fuzz targets in $build/bin (configure with the asan preset)" >&2
  exit 1
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for target in "${targets[@]}"; do
  name=$(basename "$target")
  seeds="fuzz/corpus/$name"
  work=$(mktemp -d)
  artifacts=$(mktemp -d)
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
  echo "fuzz: $name (${seconds}s)"
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" > "$work.log" 2>&1; then
    echo "fuzz: $name FAILED; last lines of its log:" >&2
    tail -n 40 "$work.log" >&2
    ls -l "$artifacts" >&2
    status=1
  else
    grep -E '^(stat::number_of_executed_units|Done )' "$work.log" || true
  fi
  rm -rf "$work" "$work.log" "$artifacts"
done
exit $status
