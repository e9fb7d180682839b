# Sourced by scripts that need displays RandR can switch (scripts/run
# --simulate): the Xorg dummy server of tests/support/xorg-dummy.conf, its
# shell twin of tests/support/xorg_dummy_server.h.  DUMMY0 plays the built-in
# panel, DUMMY1 the glasses.
#
#   source scripts/xorg-dummy-lib.sh
#   start_xorg_dummy            # exports XORG_DUMMY_DISPLAY (":N"); DISPLAY is left alone
#   xorg_dummy_glasses          # the glasses on DUMMY1: modes, mode set, probe, EDID
#   xorg_dummy_layout mirrored  # extended, mirrored, glasses-alone, glasses-wide, glasses-off
#
# The last two run the vistrelle_xorg_dummy tool of the default build
# (override with XORG_DUMMY_TOOL).  The server stops when the shell exits.
_xorg_dummy_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

start_xorg_dummy() {
  local number log lock
  XORG_DUMMY_FOLDER=$(mktemp -d /tmp/vistrelle-xorg-XXXXXX)
  log=$XORG_DUMMY_FOLDER/xorg.log
  for number in $(seq 300 349); do
    { [ -e "/tmp/.X${number}-lock" ] || [ -e "/tmp/.X11-unix/X${number}" ]; } && continue
    # The parent-death signal takes the server down with a shell that is
    # killed before its EXIT trap can run.  A session of its own keeps a
    # terminal's interrupt from it: the application it serves still needs it
    # to end cleanly, and the EXIT trap stops it after.  (From a script,
    # setsid needs no fork, so $! stays the server's pid.)
    setsid setpriv --pdeathsig TERM Xorg ":${number}" -noreset -nolisten tcp -novtswitch -sharevts \
      -config "$_xorg_dummy_root/tests/support/xorg-dummy.conf" -logfile "$log" >/dev/null 2>&1 &
    XORG_DUMMY_PID=$!
    # Ready once its socket is there and the lock is its own (another server
    # may have taken the number at the same moment).
    for _ in $(seq 1 200); do
      lock=$(tr -d ' \n' 2>/dev/null <"/tmp/.X${number}-lock" || true)
      if [ -e "/tmp/.X11-unix/X${number}" ] && [ "$lock" = "$XORG_DUMMY_PID" ]; then
        export XORG_DUMMY_DISPLAY=":${number}"
        _xorg_dummy_chain_exit_trap
        return 0
      fi
      kill -0 "$XORG_DUMMY_PID" 2>/dev/null || break
      sleep 0.05
    done
    if kill -0 "$XORG_DUMMY_PID" 2>/dev/null; then
      kill "$XORG_DUMMY_PID" 2>/dev/null || true
    elif [ -e "/tmp/.X${number}-lock" ]; then
      continue # the number was taken first
    fi
    echo "could not start the Xorg dummy server on :${number}:" >&2
    tail -n 20 "$log" >&2 2>/dev/null || true
    rm -rf "$XORG_DUMMY_FOLDER"
    return 1
  done
  echo "no free display number for the Xorg dummy server" >&2
  rm -rf "$XORG_DUMMY_FOLDER"
  return 1
}

stop_xorg_dummy() {
  if [ -n "${XORG_DUMMY_PID:-}" ]; then
    kill "$XORG_DUMMY_PID" 2>/dev/null || true
    wait "$XORG_DUMMY_PID" 2>/dev/null || true
    XORG_DUMMY_PID=
  fi
  [ -n "${XORG_DUMMY_FOLDER:-}" ] && rm -rf "$XORG_DUMMY_FOLDER"
  unset XORG_DUMMY_DISPLAY
}

# Keeps an EXIT trap set before (scripts/xvfb-lib.sh sets one).
_xorg_dummy_chain_exit_trap() {
  local previous
  previous=$(trap -p EXIT | sed -E "s/^trap -- '(.*)' EXIT$/\1/")
  # shellcheck disable=SC2064
  trap "${previous:+$previous; }stop_xorg_dummy" EXIT
}

_xorg_dummy_tool() {
  local tool=${XORG_DUMMY_TOOL:-$_xorg_dummy_root/build/default/tests/support/vistrelle_xorg_dummy}
  if [ -z "${XORG_DUMMY_DISPLAY:-}" ]; then
    echo "the Xorg dummy server is not started (start_xorg_dummy)" >&2
    return 1
  fi
  if [ ! -x "$tool" ]; then
    echo "$tool is missing: cmake --build --preset default --target vistrelle_xorg_dummy" >&2
    return 1
  fi
  "$tool" "$XORG_DUMMY_DISPLAY" "$@"
}

xorg_dummy_glasses() { _xorg_dummy_tool glasses; }
xorg_dummy_layout() { _xorg_dummy_tool layout "$@"; }
