# Shared by the project's scripts (sourced, not run): installing the system packages a step
# needs, configuring and building a preset, and running Windows programs under Wine and Xvfb.

OMBRIX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian packages, by what needs them. The console program's header-only libraries (CLI11,
# nlohmann-json) serve the Windows builds too.
OMBRIX_BUILD_PACKAGES=(cmake make g++ pkg-config googletest libgtest-dev libgmock-dev
  libcli11-dev nlohmann-json3-dev qt6-base-dev libxcb1-dev fonts-liberation)
# The Linux window and its tests: a virtual display, a reparenting window manager, and Qt's
# Wayland platform (the window on a Wayland desktop without XWayland).
OMBRIX_LINUX_GUI_PACKAGES=(xvfb xauth openbox qt6-wayland)
# The engine's tests of file systems that clone, or keep a file's identity their own way, in
# loop-mounted images (NTFS through ntfs-3g) and FUSE mounts (bindfs).
OMBRIX_FILE_SYSTEM_PACKAGES=(xfsprogs btrfs-progs ntfs-3g bindfs)
# The 32-bit Windows programs that ship: their compilers (making and checking the ZIP runs none
# of them, so it needs no Wine).
OMBRIX_WIN32_BUILD_PACKAGES=(g++-mingw-w64-i686-posix)
# The benchmark and the programs it measures ours against.
OMBRIX_BENCH_PACKAGES=(libbenchmark-dev python3 time bbe perl linux-perf)
# The fuzzer: clang with libFuzzer's runtime.
OMBRIX_FUZZ_PACKAGES=(clang libclang-rt-14-dev python3)
# Rolling the patch out: the Ansible collection is built with ansible-galaxy (for the .deb too),
# linted with ansible-lint, and its role tested through ansible-playbook (with a become through
# sudo that fails).
OMBRIX_DEPLOY_PACKAGES=(ansible-core ansible-lint sudo)
# Making and checking the release packages (appstream validates the window's AppStream metadata).
OMBRIX_PACKAGING_PACKAGES=(dpkg-dev lintian desktop-file-utils appstream unzip file
  strip-nondeterminism)

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

# Refreshes apt's package indexes, once per script (and again once an architecture is added).
# apt tries each download again itself (Acquire::Retries, with growing pauses). A mirror in the
# middle of a sync can still answer one index with a file of the wrong size; apt-get update then
# fails as a whole, though every other index arrived and is usable: the set-up goes on with the
# indexes that did arrive (and older ones apt kept), after one line that names those that failed.
ombrix_update_indexes() {
  local architectures log status failed
  architectures=$(dpkg --print-foreign-architectures | tr '\n' ' ')
  [ "${OMBRIX_INDEXES_FOR-none}" = "$architectures" ] && return 0
  ombrix_as_root true || return 1
  log=$(mktemp) || return 1
  ombrix_as_root env DEBIAN_FRONTEND=noninteractive apt-get -o Acquire::Retries=3 update -q 2>&1 |
    tee "$log"
  status=${PIPESTATUS[0]}
  if [ "$status" -ne 0 ]; then
    failed=$(sed -n -E 's/^[EW]: Failed to fetch ([^ ]+) +(.*)$/\1 (\2)/p' "$log" |
      sed -E 's/ *\[IP: [^]]*\]//' | paste -s -d ';' | sed 's/;/; /g')
    failed=${failed:-$(grep -m 1 '^E: ' "$log" || echo "apt-get update exited with $status")}
    ombrix_say "package indexes that failed, going on without them: $failed"
  fi
  rm -f "$log"
  OMBRIX_INDEXES_FOR=$architectures
}

# apt's own reason for a failed install, in one line: the first dependency it could not meet,
# else its first error.
ombrix_apt_reason() {
  local reason
  reason=$(sed -n '/unmet dependencies:/{n;p;q}' "$1" | tr -s ' ' | sed 's/^ //')
  [ -n "$reason" ] || reason=$(sed -n 's/^E: //p' "$1" | head -n 1)
  echo "${reason:-apt-get install failed}"
}

# Installs those of the given Debian packages that are not installed yet. On failure
# OMBRIX_APT_REASON holds apt's reason. Adds the i386 architecture for packages named *:i386,
# and remembers that it did (ombrix_forget_i386).
ombrix_need_packages() {
  local missing=() pkg log status
  OMBRIX_APT_REASON=""
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  ombrix_say "installing ${missing[*]}"
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
    ! dpkg --print-foreign-architectures | grep -qx i386; then
    if ! ombrix_as_root dpkg --add-architecture i386; then
      OMBRIX_APT_REASON="the i386 architecture could not be added"
      return 1
    fi
    OMBRIX_ADDED_I386=1
  fi
  if ! ombrix_update_indexes; then
    OMBRIX_APT_REASON="the package indexes could not be updated"
    return 1
  fi
  log=$(mktemp) || return 1
  if ombrix_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" \
    2>&1 | tee "$log"
    status=${PIPESTATUS[0]}
    [ "$status" -ne 0 ]
  then
    OMBRIX_APT_REASON=$(ombrix_apt_reason "$log")
  fi
  rm -f "$log"
  return "$status"
}

# Leaves the machine as it was found: the i386 architecture that this script added goes again
# when no i386 package was installed after all, or every later apt-get update on the machine
# would keep asking for its indexes.
ombrix_forget_i386() {
  [ "${OMBRIX_ADDED_I386:-0}" -eq 1 ] || return 0
  # Read whole first: under pipefail, grep -q leaving early would make a long listing fail.
  local installed
  installed=$(dpkg-query -W -f='${Status}\n' '*:i386' 2>/dev/null) || true
  grep -q 'install ok installed' <<<"$installed" && return 0
  ombrix_as_root dpkg --remove-architecture i386 || return 1
  OMBRIX_ADDED_I386=0 OMBRIX_INDEXES_FOR=none
  ombrix_say "removed the i386 architecture again: it was added for wine32, which did not install"
}

# Configures the preset, from scratch when it is new or when the presets or the toolchain files
# changed since it was last configured (CMake alone would keep a cache made from the old ones),
# then builds what changed. Further arguments (-DNAME=VALUE) are given to every configuring, and
# make it configure each time.
ombrix_build() {
  local preset=$1
  shift
  local build="$OMBRIX_ROOT/build/$preset"
  local stamp
  stamp=$(cat "$OMBRIX_ROOT/CMakePresets.json" "$OMBRIX_ROOT"/cmake/mingw-w64*.cmake | sha256sum)
  if [ ! -f "$build/CMakeCache.txt" ] || [ "$(cat "$build/configured-from" 2>/dev/null)" != "$stamp" ]; then
    ombrix_say "configuring $preset"
    (cd "$OMBRIX_ROOT" && cmake --preset "$preset" --fresh "$@" >/dev/null) || return 1
    echo "$stamp" >"$build/configured-from"
  elif [ $# -gt 0 ]; then
    (cd "$OMBRIX_ROOT" && cmake --preset "$preset" "$@" >/dev/null) || return 1
  fi
  ombrix_say "building $preset"
  (cd "$OMBRIX_ROOT" && cmake --build --preset "$preset")
}

# Runs a command on a virtual display of its own.
ombrix_with_display() {
  xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$@"
}

# Whether this machine runs 32-bit x86 programs, found out by running one: the smallest ELF
# program for i386, which exits with status 42 through the int 0x80 system call. A kernel without
# IA-32 emulation refuses to start it ("Exec format error"). It is written under build/, where
# the tests run from, so that a /tmp mounted noexec does not look like a 64-bit-only kernel.
ombrix_runs_32bit_programs() {
  local program="$OMBRIX_ROOT/build/runs-32bit-programs"
  mkdir -p "$OMBRIX_ROOT/build" || return 1
  {
    # ELF header: 32-bit, little-endian, version 1; executable, i386; entry 0x08048054; the
    # program header right after this header; no sections.
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
    printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
    printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'
    printf '\x00\x00\x00\x00'
    # One loadable segment: the whole file (96 bytes) at 0x08048000, readable and executable.
    printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
    printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
    # mov eax, 1 (exit); mov ebx, 42; int 0x80
    printf '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'
  } >"$program" && chmod +x "$program" || return 1
  local status=0
  "$program" 2>/dev/null || status=$?
  rm -f "$program"
  [ "$status" -eq 42 ]
}

# Chooses the Windows build that this machine tests and runs: `win32`, the programs that ship,
# where 32-bit programs run; else `win64`, the same sources as 64-bit programs under wine64.
# OMBRIX_WINDOWS_BITS=64 (or 32) makes the choice instead. Sets OMBRIX_WINDOWS_PRESET,
# OMBRIX_WINDOWS_WHY (the reason, in words), OMBRIX_WINDOWS_PACKAGES (what building and running
# it needs), OMBRIX_WINE_NAME and OMBRIX_WINE (the loader that runs its programs).
ombrix_choose_windows() {
  local bits=${OMBRIX_WINDOWS_BITS:-}
  case "$bits" in
    "")
      if ombrix_runs_32bit_programs; then
        ombrix_use_windows 32 "this machine runs 32-bit programs"
      else
        ombrix_use_windows 64 "this machine runs no 32-bit programs"
      fi
      ;;
    32)
      if ! ombrix_runs_32bit_programs; then
        echo "error: OMBRIX_WINDOWS_BITS=32, but this machine runs no 32-bit programs" \
          "(its kernel refuses them); use 64 or leave it unset." >&2
        return 1
      fi
      ombrix_use_windows 32 "OMBRIX_WINDOWS_BITS=32"
      ;;
    64) ombrix_use_windows 64 "OMBRIX_WINDOWS_BITS=64" ;;
    *)
      echo "error: OMBRIX_WINDOWS_BITS is '$bits'; it may be 32, 64 or unset." >&2
      return 1
      ;;
  esac
}

# Sets the variables of ombrix_choose_windows for the 32- or 64-bit build, and why.
ombrix_use_windows() {
  OMBRIX_WINDOWS_WHY=$2
  if [ "$1" -eq 32 ]; then
    OMBRIX_WINDOWS_PRESET=win32 OMBRIX_WINE_NAME=wine OMBRIX_WINE=wine
    OMBRIX_WINDOWS_PACKAGES=(g++-mingw-w64-i686-posix wine wine32:i386 xvfb xauth)
  else
    # The `wine` script would pick the 32-bit loader where wine32 is installed.
    OMBRIX_WINDOWS_PRESET=win64 OMBRIX_WINE_NAME=wine64 OMBRIX_WINE=/usr/lib/wine/wine64
    OMBRIX_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth)
  fi
}

# Installs what the chosen Windows build needs. Where wine32 cannot be installed (its i386
# libraries must match their amd64 twins version for version, so one missing i386 index can
# keep it out for hours), the 64-bit build is taken instead, as on a machine that runs no 32-bit
# programs, and OMBRIX_WINDOWS_WHY says why; OMBRIX_WINDOWS_BITS=32 insists and fails with
# apt's reason. Either way an i386 architecture added for nothing is removed again.
ombrix_need_windows() {
  if ombrix_need_packages "${OMBRIX_WINDOWS_PACKAGES[@]}"; then
    ombrix_forget_i386
    return
  fi
  local reason=${OMBRIX_APT_REASON:-} what="the 32-bit build's packages"
  grep -q -e wine32 -e ':i386' <<<"$reason" && what=wine32
  ombrix_forget_i386 || true
  if [ "$OMBRIX_WINDOWS_PRESET" = win32 ]; then
    if [ "${OMBRIX_WINDOWS_BITS:-}" = 32 ]; then
      echo "error: OMBRIX_WINDOWS_BITS=32, but $what could not be installed: $reason" >&2
      return 1
    fi
    ombrix_use_windows 64 "$what could not be installed: $reason"
    ombrix_say "taking the 64-bit Windows build: $OMBRIX_WINDOWS_WHY"
    ombrix_need_packages "${OMBRIX_WINDOWS_PACKAGES[@]}" && return 0
    reason=${OMBRIX_APT_REASON:-}
  fi
  echo "error: the packages of the Windows build could not be installed: $reason" >&2
  return 1
}

# Runs a command with Wine ready for the chosen Windows build (ombrix_choose_windows first):
# OMBRIX_WINE names the loader, `"$OMBRIX_WINE" program.exe` starts a program. The command gets
# a prefix of its own in a temporary folder (unless WINEPREFIX is set), removed afterwards even
# when interrupted, and a virtual display of its own: every Wine process of one prefix must start
# under the same display, or its windows never appear. One wineserver serves the whole command:
# it is started to stay before the prefix is initialised (quietly, with no Mono or Gecko
# dialogs), so no program pays for starting Wine anew. Nothing is exported to the caller.
ombrix_with_wine() (
  if [ -z "${WINEPREFIX:-}" ]; then
    own_prefix=$(mktemp -d "${TMPDIR:-/tmp}/ombrix-wine.XXXXXX") || exit 1
    export WINEPREFIX="$own_prefix/prefix"
    # Ends the prefix's programs and its server before removing it. The server is usually gone
    # already, and under a caller's `set -e` its failing to be killed would end the cleanup and
    # turn the command's status into a failure.
    trap 'wineserver -k 2>/dev/null || true; wineserver -w 2>/dev/null || true
          rm -rf "$own_prefix"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
  fi
  export OMBRIX_WINE WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ "$OMBRIX_WINDOWS_PRESET" = win64 ]; then
    export WINEARCH=win64 WINELOADER="$OMBRIX_WINE"
  else
    export WINEARCH=win32
  fi
  # The server finds its prefix by the folder's identity, so the folder comes first.
  mkdir -p "$WINEPREFIX" || exit 1
  # Wine ends a prefix's services and desktop seconds after its last program ends, and every
  # program after such a pause waits seconds for them to start again: a command interpreter
  # that waits for input the whole time keeps them.
  ombrix_with_display bash -c '
    wineserver -p
    "$OMBRIX_WINE" wineboot.exe -i >/dev/null 2>&1
    coproc keeper { "$OMBRIX_WINE" cmd.exe >/dev/null 2>&1; }
    "$@"
    status=$?
    wineserver -k 2>/dev/null
    exit $status' ombrix-wine "$@"
)
