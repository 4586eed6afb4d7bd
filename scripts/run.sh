#!/usr/bin/env bash
# Plays the game: installs whatever build packages are missing (as
# scripts/test.sh does), builds the game in Release in build-release/ (the
# media is generated into build-release/media on the way) and starts it
# there, so that its working directory holds media/, tarnwell.ini and
# Session.log. The game's exit status is this script's: 0 after "Exit
# Tarnwell", Escape in the menu or a closed window; 1 when it could not start
# or ended on a fatal error (the message is on standard error and in
# Session.log).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=common.sh
source "$ROOT/scripts/common.sh"

if [ -z "${DISPLAY:-}" ]; then
  echo "run.sh: no display: DISPLAY is not set. Tarnwell opens an X11 window;" \
       "run it from a desktop session (or with DISPLAY naming an X server)." >&2
  exit 1
fi

ensure_packages "${BUILD_PACKAGES[@]}"

BUILD="$ROOT/build-release"
JOBS="$(nproc 2>/dev/null || echo 2)"
echo "== building the game (Release) in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DTARNWELL_BUILD_TESTS=OFF -DTARNWELL_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target tarnwell -- --no-print-directory >/dev/null

# A desktop's window manager gives the new window the focus; a bare X server
# has none to do it, and the game runs only while its window has the focus.
# So the window gets it once, when it appears (the game never grabs it).
focus_once() {
  local window
  window="$(xdotool search --sync --onlyvisible --name '^Tarnwell V0\.2' 2>/dev/null | head -n 1)" || return 0
  [ -n "$window" ] && xdotool windowfocus "$window" >/dev/null 2>&1 || true
}
focus_once &
helper=$!

cd "$BUILD"
status=0
./tarnwell || status=$?
kill "$helper" 2>/dev/null || true
wait "$helper" 2>/dev/null || true
exit "$status"
