#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (build-fuzz/) and runs each
# for a bounded time, at most four at once. Exits non-zero when a target
# reports a crash, sanitizer error, leak or timeout; the input that did it is
# left in build-fuzz/artifacts/<target>/ and the run's log in build-fuzz/logs/.
#   scripts/fuzz.sh [target...]     (default: every target of fuzz/CMakeLists.txt)
#   TARNWELL_FUZZ_SECONDS=N         time per target (default 20)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=common.sh
source "$ROOT/scripts/common.sh"

ensure_packages "${BUILD_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"

BUILD="$ROOT/build-fuzz"
SECONDS_PER_TARGET="${TARNWELL_FUZZ_SECONDS:-20}"
PARALLEL=4

echo "== build-fuzz: configure and build"
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWELL_WERROR=ON \
  -DTARNWELL_BUILD_FUZZ=ON -DTARNWELL_ASSERT=ON >/dev/null
cmake --build "$BUILD" -j "$PARALLEL" -- --no-print-directory >/dev/null

if [ $# -gt 0 ]; then
  targets=("$@")
else
  mapfile -t targets <"$BUILD/fuzz/targets.txt"
fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# New inputs go to build-fuzz/corpus/<target>/; the committed seeds are only read.
run_target() {
  local name="$1"
  mkdir -p "$BUILD/corpus/$name" "$BUILD/artifacts/$name" "$BUILD/logs"
  local status=0
  "$BUILD/fuzz/fuzz_$name" -max_total_time="$SECONDS_PER_TARGET" -timeout=10 -rss_limit_mb=2048 \
    -max_len=4096 -print_final_stats=1 -artifact_prefix="$BUILD/artifacts/$name/" \
    "$BUILD/corpus/$name" "$ROOT/fuzz/corpus/$name" >"$BUILD/logs/$name.log" 2>&1 || status=$?
  echo "$status" >"$BUILD/logs/$name.status"
}

echo "== build-fuzz: ${#targets[@]} targets, ${SECONDS_PER_TARGET}s each"
for name in "${targets[@]}"; do
  if [ ! -x "$BUILD/fuzz/fuzz_$name" ]; then
    echo "error: no fuzz target '$name'" >&2
    exit 1
  fi
  rm -f "$BUILD/logs/$name.status"
  while [ "$(jobs -rp | wc -l)" -ge "$PARALLEL" ]; do
    wait -n || true
  done
  run_target "$name" &
done
wait

failed=0
for name in "${targets[@]}"; do
  status="$(cat "$BUILD/logs/$name.status" 2>/dev/null || echo missing)"
  runs="$(grep -o 'stat::number_of_executed_units: [0-9]*' "$BUILD/logs/$name.log" | grep -o '[0-9]*$' || true)"
  if [ "$status" = "0" ]; then
    echo "fuzz_$name: ok (${runs:-?} runs)"
  else
    failed=$((failed + 1))
    echo "fuzz_$name: FAILED (exit $status); log: $BUILD/logs/$name.log" >&2
    tail -n 40 "$BUILD/logs/$name.log" >&2
  fi
done
if [ "$failed" -ne 0 ]; then
  echo "fuzz: $failed of ${#targets[@]} targets failed" >&2
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets ran clean"
