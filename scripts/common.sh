# Shared by the project's scripts: installs missing Debian packages quietly.
# Sourced, not run.

# ensure_packages PKG...: installs with apt-get whatever of PKG is not installed.
# Silent when everything is present; needs root or sudo otherwise.
ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo="sudo"
    else
      echo "error: missing packages (${missing[*]}) and not root; install them or run as root" >&2
      return 1
    fi
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq >/dev/null || return 1
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || return 1
}

BUILD_PACKAGES=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev pkg-config
                libirrlicht-dev libenet-dev libopenal-dev libsndfile1-dev libvorbis-dev libogg-dev
                xvfb xauth libgl1-mesa-dri libx11-dev libxdamage-dev xdotool)
# Clang and its runtime libraries (libFuzzer, sanitizers) for scripts/fuzz.sh.
FUZZ_PACKAGES=(clang libclang-rt-dev)
