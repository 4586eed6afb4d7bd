#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test twice: in a normal
# build (build/), followed there by a brief terrain soak and the end-to-end
# runs of the game itself (tests/e2e/run.sh), and under
# AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/), then runs the
# fuzz targets briefly (scripts/fuzz.sh). In each build ctest runs every
# test in a process of its own, then every test binary runs once whole
# (scripts/test-binaries.sh), where faults of test order and heap layout
# show. The tests run on a virtual display (Xvfb, Mesa's software OpenGL),
# where the OpenGL tests must run rather than skip.
# Exits non-zero on any failure.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=common.sh
source "$ROOT/scripts/common.sh"

ensure_packages "${BUILD_PACKAGES[@]}"

JOBS="$(nproc 2>/dev/null || echo 2)"

run_build() {
  local dir="$1"; shift
  echo "== $(basename "$dir"): configure and build"
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWELL_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS" -- --no-print-directory >/dev/null
  echo "== $(basename "$dir"): test"
  (cd "$dir" && TARNWELL_REQUIRE_DISPLAY=1 xvfb-run -a -s "-screen 0 1024x768x24" \
     ctest --output-on-failure -j "$JOBS")
  echo "== $(basename "$dir"): every test binary whole"
  TARNWELL_REQUIRE_DISPLAY=1 JOBS="$JOBS" xvfb-run -a -s "-screen 0 1024x768x24" \
    "$ROOT/scripts/test-binaries.sh" "$dir"
}

run_build "$ROOT/build"

# The soak of the game's sea floor, briefly: 60 cycles of 600 updates, enough
# for its memory watch to judge (a full run is tarnwell_terrain_soak without
# arguments, 100,000 updates).
echo "== build: terrain soak"
"$ROOT/build/bench/tarnwell_terrain_soak" 36000

# The real game on its own virtual display, played through xdotool.
echo "== build: end to end"
"$ROOT/tests/e2e/run.sh" "$ROOT/build"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
run_build "$ROOT/build-asan" -DTARNWELL_SANITIZE=ON -DTARNWELL_ASSERT=ON -DTARNWELL_BUILD_BENCH=OFF

# A short bounded run of every fuzz target (clang + libFuzzer, build-fuzz/).
"$ROOT/scripts/fuzz.sh"
