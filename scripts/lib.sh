# Shared by scripts/run and scripts/test: package installation and the build.
# Sourced, not run.

KELVO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KELVO_JOBS=${KELVO_JOBS:-$(nproc 2>/dev/null || echo 2)}

# Debian packages the build and the tests need.
KELVO_PACKAGES=(
  cmake ninja-build g++ make pkg-config
  libgtest-dev libyaml-cpp-dev libbenchmark-dev
  clang libclang-rt-14-dev
  qt6-base-dev libqt6svg6 libpulse-dev fonts-dejavu-core xdg-utils
  xvfb xauth xdotool xclip imagemagick pulseaudio
  make python3
  libxml2-utils dpkg-dev file lintian
  libedit-dev tmux
  libtirpc-dev rpcsvc-proto lxi-tools python3-pyvisa-py
)

log() { printf '==> %s\n' "$*" >&2; }

# Installs whatever of KELVO_PACKAGES is missing: one apt-get update, then one
# apt-get install. Nothing is done when everything is there already.
ensure_packages() {
  local missing=() pkg
  for pkg in "${KELVO_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || { log "missing packages: ${missing[*]} (run as root to install them)"; return 1; }
    sudo=(sudo)
  fi
  log "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -q
  "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# configure_and_build DIR [cmake arguments...]; DIR is relative to the source
# tree unless absolute.
configure_and_build() {
  local dir=$1; shift
  case $dir in /*) ;; *) dir=$KELVO_ROOT/$dir ;; esac
  local launcher=()
  # ccache, when the machine has it, makes rebuilds of unchanged sources free.
  command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  cmake -S "$KELVO_ROOT" -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
  cmake --build "$dir" -j "$KELVO_JOBS"
}
