# Shared by the project's scripts (sourced, not run): installing the system packages a step
# needs, configuring and building a preset, and running Windows programs under Wine and Xvfb.

OMBRIX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian packages, by what needs them.
OMBRIX_BUILD_PACKAGES=(cmake make g++ pkg-config googletest libgtest-dev libgmock-dev
  qt6-base-dev libxcb1-dev fonts-liberation)
# The Linux window's tests: a virtual display and a reparenting window manager.
OMBRIX_LINUX_GUI_PACKAGES=(xvfb xauth openbox)
OMBRIX_WINDOWS_PACKAGES=(g++-mingw-w64-i686 wine wine32:i386 xvfb xauth imagemagick)
# The benchmark and the programs it measures ours against.
OMBRIX_BENCH_PACKAGES=(libbenchmark-dev python3 time bbe perl linux-perf)
# The fuzzer: clang with libFuzzer's runtime.
OMBRIX_FUZZ_PACKAGES=(clang libclang-rt-14-dev python3)
# Making and checking the release packages.
OMBRIX_PACKAGING_PACKAGES=(dpkg-dev lintian desktop-file-utils unzip file)

ombrix_say() { printf '\033[1m==> %s\033[0m\n' "$*" >&2; }

ombrix_as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "$@"
  else
    echo "error: installing system packages needs root (or sudo): $*" >&2
    return 1
  fi
}

# Installs those of the given Debian packages that are not installed yet.
ombrix_need_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  ombrix_say "installing ${missing[*]}"
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
    ! dpkg --print-foreign-architectures | grep -qx i386; then
    ombrix_as_root dpkg --add-architecture i386 || return 1
  fi
  ombrix_as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q || return 1
  ombrix_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
}

# Configures the preset when it has not been configured yet, then builds what changed.
ombrix_build() {
  local preset=$1
  if [ ! -f "$OMBRIX_ROOT/build/$preset/CMakeCache.txt" ]; then
    ombrix_say "configuring $preset"
    (cd "$OMBRIX_ROOT" && cmake --preset "$preset" >/dev/null) || return 1
  fi
  ombrix_say "building $preset"
  (cd "$OMBRIX_ROOT" && cmake --build --preset "$preset")
}

# Runs a command on a virtual display of its own.
ombrix_with_display() {
  xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$@"
}

# Runs a command with a Wine prefix of its own (in a temporary folder unless WINEPREFIX is
# set) and a virtual display of its own: every Wine process of one prefix must start under the
# same display, or its windows never appear. The prefix is initialised first, quietly, with no
# Mono or Gecko dialogs, and its wineserver kept alive so each program starts quickly.
ombrix_with_wine() {
  local own_prefix=""
  if [ -z "${WINEPREFIX:-}" ]; then
    own_prefix=$(mktemp -d /tmp/ombrix-wine.XXXXXX)
    export WINEPREFIX="$own_prefix/prefix"
  fi
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win32
  local status=0
  ombrix_with_display bash -c '
    wineboot -i >/dev/null 2>&1
    wineserver -p
    "$@"
    status=$?
    wineserver -k 2>/dev/null
    exit $status' ombrix-wine "$@" || status=$?
  [ -n "$own_prefix" ] && rm -rf "$own_prefix"
  return $status
}
