#!/usr/bin/env bash
# Runs Windows test programs under Wine on a virtual X display: 32-bit ones
# (the product build) by default, 64-bit ones with --arch win64.
#
#   wine-test.sh [options] PROG.exe [PROG.exe ...]   run each (no arguments);
#                                                    fails if any fails
#   wine-test.sh [options] -- PROG.exe [ARGS ...]    run one with arguments
#                                                    (CMAKE_CROSSCOMPILING_EMULATOR)
#   wine-test.sh start                               start a shared session
#   wine-test.sh stop                                stop it
#
# Options: --arch ARCH    win32 (default) or win64: the prefix and loader
#          --dll-dir DIR  working directory and DLL search folder
#                         (default: the folder of each program)
#          --timeout SEC  per program (default $VEK_WINE_TIMEOUT or 600)
#
# A session is one Xvfb display plus a persistent wineserver for the prefix.
# Between `start` and `stop` every run reuses it (fast: no Wine start-up per
# program), which is what a CTest fixture wants. A run without a session
# makes a private one and tears it down before returning, so nothing keeps
# running and no background process holds the caller's output pipes.
#
# Environment: VEK_WINEPREFIX (default: <repo>/build/wine-prefix, or
# <repo>/build/wine64-prefix for win64; created on
# first use, ~10 s), VEK_WINE_TIMEOUT, VEK_WINE_SCREEN (Xvfb screen, default
# 1280x1024x24: the one display mode Direct3D reports), WINEDEBUG (default
# -all,err+module).
set -euo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_dir=$(dirname "$script_dir")

# The architecture decides the prefix and the loader; it is read before the
# other options because everything below depends on it.
arch=win32
for ((i = 1; i < $#; i++)); do
  [[ ${!i} == -- ]] && break
  if [[ ${!i} == --arch ]]; then
    j=$((i + 1))
    arch=${!j}
  fi
done
case $arch in
  win32)
    wine_bin=wine
    default_prefix=$repo_dir/build/wine-prefix
    ;;
  win64)
    # Debian's `wine` starts the 32-bit loader whenever it is installed, even
    # where it cannot run; a 64-bit prefix needs the 64-bit one.
    wine_bin=/usr/lib/wine/wine64
    export WINELOADER=$wine_bin
    default_prefix=$repo_dir/build/wine64-prefix
    ;;
  *)
    echo "wine-test: unknown architecture $arch (win32 or win64)" >&2
    exit 2
    ;;
esac
export WINEPREFIX=${VEK_WINEPREFIX:-$default_prefix}
export WINEARCH=$arch
# Quiet, except for why a program or DLL failed to load.
export WINEDEBUG=${WINEDEBUG:--all,err+module}
# No Mono/Gecko download prompts, no menu entries, and no crash dialog that
# would wait forever on a display nobody sees.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

session_file=$WINEPREFIX/.vek-session
xvfb_pid=""
lock_file=${WINEPREFIX%/}.lock

log() { echo "wine-test: $*" >&2; }

need() {
  command -v "$1" >/dev/null 2>&1 || {
    log "$1 not found; run scripts/install-windows-deps.sh"
    exit 127
  }
}

# Bump when the settings below change: existing prefixes get them again.
prefix_setup_version=1

# Creates the prefix once (the slow part of Wine's first start) and applies
# the settings tests rely on. Callers hold the lock.
ensure_prefix() {
  local stamp=$WINEPREFIX/.vek-ready
  if [[ -f $stamp && $(cat "$stamp") == "$prefix_setup_version" ]]; then
    return
  fi
  local start=$SECONDS
  # A session left from before would keep the old settings alive.
  stop_session
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    log "creating Wine prefix $WINEPREFIX (first start takes a while)"
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    "$wine_bin" wineboot --init </dev/null >/dev/null 2>&1 9>&-
  fi
  # Unmanaged top-level windows: without a window manager (Xvfb has none)
  # Wine otherwise waits 2 s for one on every DestroyWindow of a shown
  # window. No crash dialog either: it would wait for a click.
  local reg
  reg=$(mktemp "${TMPDIR:-/tmp}/vek-wine.XXXXXX.reg")
  cat >"$reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
REG
  "$wine_bin" regedit /S "$(winepath_of "$reg")" </dev/null >/dev/null 2>&1 9>&-
  rm -f "$reg"
  # The registry reaches the disk when the server exits.
  wineserver -w
  echo "$prefix_setup_version" >"$stamp"
  log "prefix ready in $((SECONDS - start)) s"
}

# Windows path of a Unix path, without starting Wine: drive Z: is the root.
winepath_of() {
  local p=$1
  echo "Z:${p//\//\\}"
}

session_alive() {
  [[ -f $session_file ]] || return 1
  local display pid
  read -r display pid <"$session_file" || return 1
  [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null && [[ -S /tmp/.X11-unix/X$display ]] || return 1
  export DISPLAY=:$display
}

# Starts Xvfb on a free display and a wineserver that stays up. With
# "shared", records them in the session file for other runs to use; a
# private session stays invisible to them (they wait for the lock instead
# of using a session that is about to go). Callers hold the lock.
start_session() {
  local fifo display
  # A server left by a session whose display died would hand new programs
  # that dead display.
  wineserver -k 2>/dev/null 9>&- || true
  wineserver -w 2>/dev/null 9>&- || true
  fifo=$(mktemp -u "${TMPDIR:-/tmp}/vek-xvfb.XXXXXX")
  mkfifo "$fifo"
  # -displayfd picks a free display and prints its number when ready.
  # Wine's Direct3D reports this screen as the one display mode.
  setsid Xvfb -displayfd 3 -screen 0 "${VEK_WINE_SCREEN:-1280x1024x24}" -nolisten tcp -noreset \
    3>"$fifo" </dev/null >/dev/null 2>&1 9>&- &
  xvfb_pid=$!
  if ! read -r -t 30 display <"$fifo"; then
    rm -f "$fifo"
    kill "$xvfb_pid" 2>/dev/null || true
    log "Xvfb did not start"
    exit 1
  fi
  rm -f "$fifo"
  export DISPLAY=:$display
  if [[ ${1:-} == shared ]]; then
    echo "$display $xvfb_pid" >"$session_file"
  fi
  # The persistent server and Wine's own background programs start here with
  # their output on /dev/null, so later runs never hand them a caller's pipe.
  # fd 9 (the lock) is closed for them so that they never hold it.
  wineserver -p </dev/null >/dev/null 2>&1 9>&-
  "$wine_bin" cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
}

# Ends the prefix's Wine processes and the Xvfb with the given pid.
stop_wine_and_display() {
  local pid=${1:-}
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  if [[ -n $pid ]]; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
}

stop_session() {
  local display pid
  if [[ -f $session_file ]]; then
    read -r display pid <"$session_file" || true
    stop_wine_and_display "${pid:-}"
    rm -f "$session_file"
  fi
}

with_lock() {
  exec 9>"$lock_file"
  flock 9
}

run_one() {
  local exe=$1
  shift
  local dir=${dll_dir:-$(dirname "$exe")}
  if [[ ! -f $exe ]]; then
    log "no such program: $exe"
    return 1
  fi
  exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")
  local rc=0
  # The program writes to files, shown when it ends: a background program
  # Wine starts on its behalf (the desktop process on the first window, on
  # 64-bit Wine) would otherwise inherit the caller's pipes and keep the
  # caller (CTest) waiting until it exits.
  local out err
  out=$(mktemp "${TMPDIR:-/tmp}/vek-wine-out.XXXXXX")
  err=$(mktemp "${TMPDIR:-/tmp}/vek-wine-err.XXXXXX")
  (
    cd "$dir"
    WINEPATH="$(winepath_of "$PWD")${WINEPATH:+;$WINEPATH}" \
      timeout --kill-after=10 "$timeout_s" "$wine_bin" "$exe" "$@" </dev/null >"$out" 2>"$err" 9>&-
  ) || rc=$?
  cat "$out"
  cat "$err" >&2
  rm -f "$out" "$err"
  if [[ $rc -ne 0 ]]; then
    if [[ $rc -eq 124 ]]; then
      log "$(basename "$exe") timed out after ${timeout_s} s"
    else
      log "$(basename "$exe") failed (exit $rc)"
    fi
  fi
  return $rc
}

dll_dir=""
timeout_s=${VEK_WINE_TIMEOUT:-600}
while [[ $# -gt 0 ]]; do
  case $1 in
    --arch) shift 2 ;;  # read above
    --dll-dir) dll_dir=$(cd "$2" && pwd); shift 2 ;;
    --timeout) timeout_s=$2; shift 2 ;;
    *) break ;;
  esac
done

need "$wine_bin"
need wineserver
need Xvfb

case ${1:-} in
  start)
    with_lock
    ensure_prefix
    session_alive || start_session shared
    log "session on display $DISPLAY"
    exit 0
    ;;
  stop)
    with_lock
    stop_session
    exit 0
    ;;
  "")
    log "usage: wine-test.sh [--arch ARCH] [--dll-dir DIR] [--timeout SEC] (PROG.exe ... | -- PROG.exe ARGS ... | start | stop)"
    exit 2
    ;;
esac

one_with_args=0
if [[ $1 == -- ]]; then
  one_with_args=1
  shift
fi

mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$lock_file"
if ! session_alive; then
  # No shared session: make one for this run only. The lock is kept until
  # the end so that concurrent private runs do not share a dying session.
  flock 9
  ensure_prefix
  if ! session_alive; then
    start_session private
    trap 'stop_wine_and_display "$xvfb_pid"' EXIT
  else
    flock -u 9
  fi
fi

status=0
if [[ $one_with_args -eq 1 ]]; then
  run_one "$@" || status=$?
else
  for exe in "$@"; do
    run_one "$exe" || status=1
  done
fi
exit $status
