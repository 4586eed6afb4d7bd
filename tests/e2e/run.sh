#!/usr/bin/env bash
# End to end: the real `tarnwell` of a build on a virtual display (Xvfb,
# Mesa's software OpenGL), driven by xdotool like a player, in scratch
# folders holding media/ and an ini file. The runs:
#   play      800 x 600: menu, Return (held until the game state is entered),
#             about ten seconds of thrust, guns and a torpedo, Escape back to
#             the menu, a click on "Exit Tarnwell"; against a loopback login
#             server. Exit status 0, the state lines in order, the ini's
#             defaults, the login lines, and pictures of menu and game.
#   missing   without media/terrain/t33x33.jpg: the exception's text, non-zero.
#   close     the window manager's close message: END, status 0, and every
#             setting's default in the ini file though no game ran.
#   pipe      standard output a pipe whose reader has gone (`tarnwell | head`
#             once head is done): a game with the login's lines printed,
#             back to the menu, "Exit Tarnwell"; END, status 0.
#   opengl    Device=opengl at 1024 x 768: the menu and the game's HUD there.
#   fight     1024 x 768: a quiet start, then guns and torpedoes on targets
#             killed under them, 30 s watched: no frame gap over 1 s.
# It waits for log lines and pictures, never for a fixed time; the pauses
# below are how long the player holds keys. The pictures stay in BUILD as
# e2e-*.png, beside the contact sheet; the runs' logs in BUILD/e2e/.
#   tests/e2e/run.sh BUILD        (scripts/test.sh runs it)
set -euo pipefail

BUILD="$(cd "${1:?usage: run.sh BUILD}" && pwd)"
if [ -z "${TARNWELL_E2E_DISPLAY:-}" ]; then
  exec env TARNWELL_E2E_DISPLAY=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

GAME="$BUILD/tarnwell"
TOOL="$BUILD/tests/e2e/tarnwell_e2e"
OUT="$BUILD/e2e"
rm -rf "$OUT" "$BUILD"/e2e-*.png
mkdir -p "$OUT"
PICTURES="$BUILD/e2e-"
SCRATCH="$(mktemp -d /tmp/tarnwell-e2e-XXXXXX)"
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  rm -rf "$SCRATCH"
}
trap cleanup EXIT
export ALSOFT_DRIVERS=null

FAILED=0
fail() {
  echo "e2e FAILED: $*" >&2
  FAILED=1
}

# wait_for SECONDS COMMAND...: runs the command every 20 ms until it
# succeeds; false when the limit passes first (a limit on failure, not a
# pause). The short period matters for keys released on a log line: the
# controls end the program on an Escape still held when the menu's first
# frame comes.
wait_for() {
  local limit=$(( $1 * 50 )); shift
  local i
  for ((i = 0; i < limit; i++)); do
    if "$@" >/dev/null 2>&1; then
      return 0
    fi
    sleep 0.02
  done
  return 1
}

# log_count DIR TEXT: lines of DIR/Session.log holding TEXT.
log_count() {
  grep -cF -- "$2" "$1/Session.log" 2>/dev/null || true
}
log_has_more() {  # DIR TEXT N: more than N such lines
  [ "$(log_count "$1" "$2")" -gt "$3" ]
}
running() {
  kill -0 "$1" 2>/dev/null
}
not_running() {
  ! kill -0 "$1" 2>/dev/null
}

# scratch NAME: a folder with a copy of the media.
scratch() {
  local dir="$SCRATCH/$1"
  mkdir -p "$dir"
  cp -r "$BUILD/media" "$dir/media"
  echo "$dir"
}

# start DIR: starts the game there; sets GAME_PID.
start() {
  (cd "$1" && exec "$GAME" >"$1/stdout.txt" 2>"$1/stderr.txt") &
  GAME_PID=$!
  PIDS+=("$GAME_PID")
}

# window: the game's window, once it is mapped, focused (there is no window
# manager to give it the focus); sets WINDOW.
focus_window() {
  WINDOW="$(timeout 60 xdotool search --sync --onlyvisible --name '^Tarnwell V0\.2' | head -n 1)" || true
  [ -n "$WINDOW" ] || { fail "no game window"; return 1; }
  xdotool windowfocus --sync "$WINDOW" || fail "cannot give the window the focus"
}

# shows KIND FILE: the window's picture passes the check for KIND.
shows() {
  "$TOOL" shot "$WINDOW" "$2" && "$TOOL" check "$1" "$2"
}

# finish PID: waits for the game to end; sets STATUS.
finish() {
  STATUS=0
  if ! wait_for 60 not_running "$1"; then
    fail "the game did not end"
    kill "$1" 2>/dev/null || true
  fi
  wait "$1" || STATUS=$?
}
ended() {  # RUN: the game ends with status 0
  finish "$GAME_PID"
  [ "$STATUS" -eq 0 ] || fail "$1: exit status $STATUS"
}

# to_menu RUN DIR PICTURE: the game started in DIR shows its menu.
to_menu() {
  start "$2"
  focus_window
  wait_for 60 shows menu "${PICTURES}$3.png" || fail "$1: no menu"
}
closed() {  # RUN: the window manager's close message ends the game well
  "$TOOL" close "$WINDOW" || fail "$1: cannot send the close message"
  ended "$1"
}
into_game() {  # RUN DIR: Return held until the game state, then its start
  key_held Return log_has_more "$2" 'Enter gamestate: GAME RUN' 0
  wait_for 60 log_has_more "$2" '...game initialization done' 0 || fail "$1: the game did not start"
}

# states DIR: the log's state lines, repeated menu entries (before the
# window had the focus) counted once.
states() {
  grep -oE 'Enter gamestate: [A-Z ]+|Game initialization failed: .*|The window was closed' "$1/Session.log" | uniq
}

key_held() {  # KEY UNTIL-COMMAND...: holds KEY until the command succeeds
  local key="$1"; shift
  xdotool keydown "$key" || fail "cannot press $key"
  wait_for 30 "$@" || fail "no effect of $key"
  xdotool keyup "$key" || fail "cannot release $key"
}

hold() {  # SECONDS KEY...: the player holds the keys that long
  local seconds="$1"; shift
  xdotool keydown "$@" || fail "cannot press $*"
  sleep "$seconds"
  xdotool keyup "$@" || fail "cannot release $*"
}

click() {  # X Y in window pixels
  xdotool mousemove --window "$WINDOW" "$1" "$2" click 1 || fail "cannot click at $1, $2"
}

# The settings start-up writes with their defaults on every first run,
# beside the window's and the server's (the README's Settings).
FIRST_RUN_SETTINGS=(FogColor=0,8,16,255 FogIsLinear=True FogStart=10.000000 FogEnd=250.000000
  FogDensity=1.000000 ClsColor=0,24,64,255 TerrainTextureScale1=40.000000 TerrainTextureScale2=80.000000
  KeyMaxThrustForward=A KeyMaxThrustBackward=Y KeyIncreaseMainThrust=PLUS KeyDecreaseMainThrust=MINUS
  KeyResetMainThrust=BACK KeyEngineSwitch=GRAVE KeyRollLeft=LEFT KeyRollRight=RIGHT KeyPitchUp=UP
  KeyPitchDown=DOWN KeyYawLeft=Q KeyYawRight=E KeySteeringLeft=S KeySteeringRight=D KeySteeringUp=R
  KeySteeringDown=F KeySelectNextTarget=T KeyFireMainWeapon=SPACE KeyFireTorpedoWeapon=TAB KeyLightSwitch=L
  MouseInverted=0)

# ini_holds RUN DIR LINE...: DIR/tarnwell.ini has each line exactly.
ini_holds() {
  local run="$1" dir="$2" line
  shift 2
  for line in "$@"; do
    grep -qxF -- "$line" "$dir/tarnwell.ini" || fail "$run: the ini file lacks $line"
  done
}

# login_server RUN DIR: a loopback login server for the run, and an ini
# file asking for an 800 x 600 window and that server.
login_server() {
  "$TOOL" login-server "$2/port.txt" 120 >"$2/server.txt" &
  PIDS+=("$!")
  wait_for 10 test -s "$2/port.txt" || fail "$1: no login server"
  printf '[GeneralGraphics]\nResolutionX=800\nResolutionY=600\nWindowedMode=1\n[Server]\nIP=127.0.0.1\nPort=%s\n' \
    "$(cat "$2/port.txt")" >"$2/tarnwell.ini"
}

# --- play ---------------------------------------------------------------
echo "== e2e: play at 800 x 600"
DIR="$(scratch play)"
login_server play "$DIR"
to_menu play "$DIR" menu-800
# A name of letters no game key uses: the receiver keeps a released key's
# edge across the change of state, and "O" or "P" would act in the game.
xdotool type --delay 50 nick || fail "cannot type"
menus="$(log_count "$DIR" 'Enter gamestate: MENU')"
into_game play "$DIR"
# The player: full thrust, a target, the guns, a torpedo, some steering.
hold 2 a
hold 0.5 t
hold 2 space
hold 0.5 Tab
hold 1.5 Left Up
running "$GAME_PID" || fail "the game ended during play"
wait_for 30 shows game "${PICTURES}game-800.png" || fail "no game picture with its HUD"
sleep 2
key_held Escape log_has_more "$DIR" 'Enter gamestate: MENU' "$menus"
wait_for 60 shows menu "${PICTURES}menu-800-again.png" || fail "the menu did not come back"
click 400 428
expected=("Enter gamestate: MENU" "Enter gamestate: GAME RUN" "Enter gamestate: MENU" "Enter gamestate: END")
ended play
[ "$(states "$DIR")" = "$(printf '%s\n' "${expected[@]}")" ] || fail "play: state lines $(states "$DIR" | tr '\n' '|')"
[ "$(tail -n 1 "$DIR/Session.log" | sed 's/^[0-9.]* [0-9:]*: //')" = "Enter gamestate: END" ] ||
  fail "play: the last log line is not END"
ini_holds play "$DIR" Device=DirectX9 ResolutionX=800 ResolutionY=600 WindowedMode=1 IP=127.0.0.1 \
  "Port=$(cat "$DIR/port.txt")" "${FIRST_RUN_SETTINGS[@]}"
for line in 'Unhandled packet (not a problem): 16' 'Incoming Login result: 1' 'Login successful!'; do
  grep -qF "$line" "$DIR/stdout.txt" || fail "play: stdout lacks '$line'"
done
grep -qF "login received: name 'nick'" "$DIR/server.txt" || fail "play: the server got no login from nick"
for file in Session.log tarnwell.ini stdout.txt stderr.txt server.txt; do
  cp "$DIR/$file" "$OUT/play-$file"
done

# --- missing and damaged media ---------------------------------------------
# A medium gone ends the game with its exception's text and a non-zero
# status. So do things that must never be opened or read whole in a
# medium's place: the manifest as a FIFO (it would stop the game for ever)
# and a terrain texture as a link to /dev/zero (it would grow the game
# without end). The music as a FIFO is left out and the menu comes up.
damaged_run() {  # NAME FILE missing|fifo|zero MESSAGE SOURCE
  echo "== e2e: media/$2 $3"
  DIR="$(scratch "$1")"
  rm -f "$DIR/media/$2"
  case "$3" in
    fifo) mkfifo "$DIR/media/$2" ;;
    zero) ln -s /dev/zero "$DIR/media/$2" ;;
  esac
  printf '[GeneralGraphics]\nResolutionX=800\nResolutionY=600\nWindowedMode=1\n' >"$DIR/tarnwell.ini"
  if [ -z "$4" ]; then
    to_menu "$1" "$DIR" "menu-$1"
    closed "$1"
    return
  fi
  start "$DIR"
  finish "$GAME_PID"
  [ "$STATUS" -ne 0 ] || fail "$1: exit status 0"
  grep -qF "Exception: Critical error!" "$DIR/stderr.txt" || fail "$1: no message box"
  grep -qF -- "$4" "$DIR/stderr.txt" || fail "$1: no message"
  grep -F -- "$4" "$DIR/Session.log" | grep -E "EXCEPTION in $5: line [0-9]+ - " >/dev/null || fail "$1: no log line"
}
damaged_run missing terrain/t33x33.jpg missing "Can't load terrain: 'media/terrain/t33x33.jpg'!" src/client/gamemenu
damaged_run manifest-fifo manifest.txt fifo \
  "Can't load cockpit mesh: 'media/mesh/cockpit/cockpit_spielerschiff01.X'!" src/client/resourcehandler
damaged_run rock-zero terrain/rockground.jpg zero \
  "Can't load terrain texture: 'media/terrain/rockground.jpg'!" src/client/gamemedia
damaged_run music-fifo audio/music/intro.ogg fifo "" ""

# --- close ----------------------------------------------------------------
echo "== e2e: the window manager's close message"
DIR="$(scratch close)"
printf '[GeneralGraphics]\nResolutionX=800\nResolutionY=600\nWindowedMode=1\n' >"$DIR/tarnwell.ini"
to_menu close "$DIR" menu-close
closed close
[ "$(states "$DIR" | tail -n 2 | tr '\n' '|')" = "The window was closed|Enter gamestate: END|" ] ||
  fail "close: state lines $(states "$DIR" | tr '\n' '|')"
# A first run that never entered a game has written every setting too.
ini_holds close "$DIR" Device=DirectX9 IP=127.0.0.1 Port=7988 "${FIRST_RUN_SETTINGS[@]}"

# --- pipe -----------------------------------------------------------------
echo "== e2e: standard output a pipe nobody reads"
DIR="$(scratch pipe)"
login_server pipe "$DIR"
# The pipe's only reader has ended before the game starts: every write to
# it fails, the first one at once.
exec {GONE}> >(true)
wait "$!" || true
( trap '' PIPE; echo probe >&"$GONE" ) 2>/dev/null && fail "pipe: the pipe still has a reader"
(cd "$DIR" && exec "$GAME" >&"$GONE" 2>"$DIR/stderr.txt") &
GAME_PID=$!
PIDS+=("$GAME_PID")
exec {GONE}>&-
focus_window
wait_for 60 shows menu "${PICTURES}menu-pipe.png" || fail "pipe: no menu"
into_game pipe "$DIR"
# The login goes out only after the game printed the acceptance's line; the
# answer's lines follow within a frame or two.
logged_in_or_ended() {
  grep -qF "login received" "$DIR/server.txt" || not_running "$GAME_PID"
}
wait_for 30 logged_in_or_ended || fail "pipe: no login"
if running "$GAME_PID" && wait_for 30 shows game "${PICTURES}game-pipe.png"; then
  menus="$(log_count "$DIR" 'Enter gamestate: MENU')"
  key_held Escape log_has_more "$DIR" 'Enter gamestate: MENU' "$menus"
  wait_for 60 shows menu "${PICTURES}menu-pipe-again.png" || fail "pipe: the menu did not come back"
  click 400 428
else
  fail "pipe: the game ended or showed no game picture"
fi
ended pipe
[ "$(states "$DIR" | tail -n 1)" = "Enter gamestate: END" ] || fail "pipe: state lines $(states "$DIR" | tr '\n' '|')"

# --- opengl ---------------------------------------------------------------
echo "== e2e: Device=opengl at 1024 x 768"
DIR="$(scratch opengl)"
printf '[GeneralGraphics]\nDevice=opengl\nResolutionX=1024\nResolutionY=768\nWindowedMode=1\n' >"$DIR/tarnwell.ini"
to_menu opengl "$DIR" menu-1024
click 512 432
wait_for 60 log_has_more "$DIR" '...game initialization done' 0 || fail "opengl: the game did not start"
wait_for 30 shows game "${PICTURES}game-1024.png" || fail "opengl: no game picture with its HUD"
closed opengl
grep -q "^Device=opengl" "$DIR/tarnwell.ini" || fail "opengl: the ini's device changed"

# --- fight ----------------------------------------------------------------
# A game of 30 s at 1024 x 768 with a fight, watched for frame gaps: with
# anisotropic filtering on the software renderer stalled single frames for
# 20 s and more. No gap between two pictures of the window may pass 1 s.
echo "== e2e: a fight at 1024 x 768, no frame gap over 1 s"
DIR="$(scratch fight)"
printf '[GeneralGraphics]\nDevice=opengl\nResolutionX=1024\nResolutionY=768\nWindowedMode=1\n' >"$DIR/tarnwell.ini"
to_menu fight "$DIR" menu-fight
into_game fight "$DIR"
"$TOOL" frame-gaps "$WINDOW" 30 1000 >"$DIR/gaps.txt" &
GAPS_PID=$!
PIDS+=("$GAPS_PID")
# The player first waits: the stall came 5 to 7 s in with no input at all.
# Then guns and a torpedo on each target in turn, every target killed with
# the damage key while the torpedo homes on it, and the debris and
# explosions passed through at full thrust.
sleep 8
for round in 1 2 3; do
  hold 0.3 t
  hold 1.5 space
  hold 0.3 Tab
  sleep 0.7
  hold 0.3 p
  hold 1.5 space a
  sleep 2.5
done
hold 2 a Left
running "$GAME_PID" || fail "fight: the game ended during the fight"
wait "$GAPS_PID" || fail "fight: $(cat "$DIR/gaps.txt")"
cat "$DIR/gaps.txt"
shows game "${PICTURES}game-fight.png" || fail "fight: no game picture with its HUD"
closed fight
cp "$DIR/Session.log" "$OUT/fight-Session.log"
cp "$DIR/gaps.txt" "$OUT/fight-gaps.txt"

if [ "$FAILED" -ne 0 ]; then
  echo "e2e: FAILED (pictures in $BUILD/e2e-*.png, logs in $OUT)" >&2
  exit 1
fi
echo "e2e: passed (pictures in $BUILD/e2e-*.png)"
