#!/usr/bin/env bash
# Replays each fuzz target's seed corpus, then fuzzes it for a while.
# Usage: tools/fuzz.sh [DURATION per target: 20, 90s, 30m, 2h] [build folder] [target...]
# With targets named (fuzz_whole_run ...), only those run. Each run's findings go to
# fuzz/findings/<target>/ (not kept in the repository).
set -euo pipefail
cd "$(dirname "$0")/.."
duration=${1:-20}
build=${2:-build/asan}
shift $(( $# > 2 ? 2 : $# ))
case "$duration" in
  *h) seconds=$(( ${duration%h} * 3600 )) ;;
  *m) seconds=$(( ${duration%m} * 60 )) ;;
  *s) seconds=${duration%s} ;;
  *) seconds=$duration ;;
esac
if ! [[ "$seconds" =~ ^[0-9]+$ ]]; then
  echo "fuzz: a duration is a whole number of seconds, or of minutes (30m) or hours (2h)" >&2
  exit 2
fi

shopt -s nullglob
if [ $# -gt 0 ]; then
  targets=()
  for name in "$@"; do targets+=("$build/bin/$name"); done
else
  targets=("$build"/bin/fuzz_*)
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no fuzz targets in $build/bin (configure with the asan preset)" >&2
  exit 1
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Qt's font caches live until exit (the whole run draws text): not ours.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}
# The whole-run target draws place-mark text without a display.
export QT_QPA_PLATFORM=offscreen
status=0
for target in "${targets[@]}"; do
  name=$(basename "$target")
  seeds="fuzz/corpus/$name"
  work=$(mktemp -d)
  artifacts=$(mktemp -d)
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
  echo "fuzz: $name (${seconds}s)"
  timeout=10
  [ "$name" = fuzz_whole_run ] && timeout=60 # a whole pass, alignment and all, under ASan
  if ! "$target" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" > "$work.log" 2>&1; then
    echo "fuzz: $name FAILED; last lines of its log:" >&2
    tail -n 40 "$work.log" >&2
    mkdir -p "fuzz/findings/$name"
    cp -r "$artifacts"/. "fuzz/findings/$name"/
    echo "fuzz: what failed is kept in fuzz/findings/$name:" >&2
    ls -l "fuzz/findings/$name" >&2
    status=1
  else
    grep -E '^(stat::number_of_executed_units|Done )' "$work.log" || true
  fi
  rm -rf "$work" "$work.log" "$artifacts"
done
exit $status
