#!/usr/bin/env bash
# Runs every test binary of a build once whole, all its tests in one process
# in their own order, with the working directory, environment and arguments
# ctest gives them one test at a time. Faults that only show when tests share
# a process (their order, what one leaves on the heap for the next) show
# here and not under ctest. Up to JOBS binaries run at once; each one's output
# goes to BUILD/whole-logs/<binary>.log. Exits non-zero when any fails.
#   scripts/test-binaries.sh BUILD      (scripts/test.sh runs it on a virtual display)
set -euo pipefail

BUILD="$(cd "${1:?usage: test-binaries.sh BUILD}" && pwd)"
JOBS="${JOBS:-$(nproc 2>/dev/null || echo 2)}"
LOGS="$BUILD/whole-logs"
rm -rf "$LOGS"
mkdir -p "$LOGS"

# One line per binary whose tests ctest runs one by one (a --gtest_filter
# argument), from the settings of its first test, the fields separated by the
# unit separator (a tab would merge empty fields):
#   directory, binary, environment, the other arguments
# (the last two are space-separated lists: no value may hold a space).
list_binaries() {
  (cd "$BUILD" && ctest -N -V) | awk '
    function flush() {
      if (bin != "" && picked && !(bin in seen)) {
        seen[bin] = 1
        printf "%s\037%s\037%s\037%s\n", dir, bin, env, args
      }
      bin = ""; dir = ""; env = ""; args = ""; picked = 0; inEnv = 0
    }
    /^[0-9]+: Test command: / {
      flush()
      line = $0
      sub(/^[0-9]+: Test command: /, "", line)
      bin = line
      sub(/ .*/, "", bin)
      rest = substr(line, length(bin) + 1)
      while (match(rest, /"[^"]*"/)) {
        arg = substr(rest, RSTART + 1, RLENGTH - 2)
        rest = substr(rest, RSTART + RLENGTH)
        if (arg ~ /^--gtest_filter=/) { picked = 1 } else { args = args (args == "" ? "" : " ") arg }
      }
      next
    }
    /^[0-9]+: Working Directory: / { dir = $0; sub(/^[0-9]+: Working Directory: /, "", dir); next }
    /^[0-9]+: Environment variables:/ { inEnv = 1; next }
    inEnv && /^[0-9]+:  / { value = $0; sub(/^[0-9]+:  /, "", value); env = env (env == "" ? "" : " ") value; next }
    /^  Test +#/ { inEnv = 0 }
    END { flush() }'
}

mapfile -t entries < <(list_binaries)
if [ ${#entries[@]} -eq 0 ]; then
  echo "error: ctest lists no test binaries in $BUILD" >&2
  exit 1
fi

run_binary() {
  local dir="$1" bin="$2" env="$3" args="$4"
  local name
  name="$(basename "$bin")"
  local status=0
  # shellcheck disable=SC2086  # the environment and the arguments are word lists
  (cd "${dir:-$(dirname "$bin")}" && env $env "$bin" $args) >"$LOGS/$name.log" 2>&1 || status=$?
  echo "$status" >"$LOGS/$name.status"
}

start="$(date +%s%N)"
for entry in "${entries[@]}"; do
  IFS=$'\037' read -r dir bin env args <<<"$entry"
  while [ "$(jobs -rp | wc -l)" -ge "$JOBS" ]; do
    wait -n || true
  done
  run_binary "$dir" "$bin" "$env" "$args" &
done
wait
tenths=$((($(date +%s%N) - start) / 100000000))

failed=0
for entry in "${entries[@]}"; do
  IFS=$'\037' read -r _ bin _ _ <<<"$entry"
  name="$(basename "$bin")"
  status="$(cat "$LOGS/$name.status" 2>/dev/null || echo missing)"
  if [ "$status" != "0" ]; then
    failed=$((failed + 1))
    echo "$name (whole): FAILED (exit $status); log: $LOGS/$name.log" >&2
    grep -E '^\[  FAILED  \]|Failure|ERROR: AddressSanitizer|runtime error' "$LOGS/$name.log" | head -n 20 >&2 || true
    tail -n 20 "$LOGS/$name.log" >&2
  fi
done
echo "whole runs: ${#entries[@]} binaries in $((tenths / 10)).$((tenths % 10)) s, $failed failed"
[ "$failed" -eq 0 ]
