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
# One target per core: each runs for the same time, so the whole run takes a share of it.
jobs=${FUZZ_JOBS:-$(nproc)}
results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT

# Runs one target; what it printed goes to $results/<name>.out, its verdict to .rc.
fuzz_one() {
  local target=$1 name seeds work artifacts timeout rc=0
  name=$(basename "$target")
  seeds="fuzz/corpus/$name"
  work=$(mktemp -d)
  artifacts=$(mktemp -d)
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
  timeout=10
  [ "$name" = fuzz_whole_run ] && timeout=60 # a whole pass, alignment and all, under ASan
  {
    echo "fuzz: $name (${seconds}s)"
    if ! "$target" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=4096 \
          -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" > "$work.log" 2>&1; then
      echo "fuzz: $name FAILED; last lines of its log:"
      tail -n 40 "$work.log"
      mkdir -p "fuzz/findings/$name"
      cp -r "$artifacts"/. "fuzz/findings/$name"/
      echo "fuzz: what failed is kept in fuzz/findings/$name:"
      ls -l "fuzz/findings/$name"
      rc=1
    else
      grep -E '^(stat::number_of_executed_units|Done )' "$work.log" || true
    fi
  } > "$results/$name.out" 2>&1
  echo "$rc" > "$results/$name.rc"
  rm -rf "$work" "$work.log" "$artifacts"
}

running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  fuzz_one "$target" &
  running=$((running + 1))
done
wait

status=0
for target in "${targets[@]}"; do
  name=$(basename "$target")
  if [ "$(cat "$results/$name.rc" 2>/dev/null)" = 0 ]; then
    cat "$results/$name.out"
  else
    cat "$results/$name.out" >&2
    status=1
  fi
done
exit $status
