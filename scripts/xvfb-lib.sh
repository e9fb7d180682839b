# Sourced by scripts/run and scripts/test: starts a virtual X server on a free
# display number and exports DISPLAY; the server stops when the shell exits.
start_xvfb() {
  local geometry=${1:-1920x1080x24}
  local number
  for number in $(seq 90 140); do
    [ -e "/tmp/.X${number}-lock" ] || [ -e "/tmp/.X11-unix/X${number}" ] && continue
    Xvfb ":${number}" -screen 0 "$geometry" -nolisten tcp -noreset >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 1 50); do
      [ -e "/tmp/.X11-unix/X${number}" ] && break
      kill -0 "$XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$XVFB_PID" 2>/dev/null && [ -e "/tmp/.X11-unix/X${number}" ]; then
      export DISPLAY=":${number}"
      trap 'kill "$XVFB_PID" 2>/dev/null || true' EXIT
      return 0
    fi
  done
  echo "could not start Xvfb" >&2
  return 1
}
