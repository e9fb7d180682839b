#!/usr/bin/env bash
# The shell twin of the Xorg dummy fixture: a server on its own display
# number whatever DISPLAY says, the glasses brought up through the tool,
# a layout set, and the server gone with the shell.
#   xorg_dummy_lib_test.sh <repository root> <vistrelle_xorg_dummy tool>
set -euo pipefail
root=$1
export XORG_DUMMY_TOOL=$2
export DISPLAY=:9999 # must be ignored

fail() {
  echo "xorg-dummy-lib: $*" >&2
  exit 1
}

display=$(
  source "$root/scripts/xorg-dummy-lib.sh"
  start_xorg_dummy >&2 || exit 1
  xorg_dummy_glasses >&2 || exit 1
  xorg_dummy_layout mirrored DUMMY1 >&2 || exit 1
  props=$(xrandr --display "$XORG_DUMMY_DISPLAY" --prop)
  grep -q "ConnectorType: Panel" <<<"$props" || exit 2
  # "ORVEX Glass" in the EDID's name descriptor.
  grep -q "fc004f5256" <<<"$props" || exit 3
  grep -q "^DUMMY1 connected primary 1920x1080+0+0" <<<"$props" || exit 4
  xorg_dummy_layout sideways 2>/dev/null && exit 5
  echo "$XORG_DUMMY_DISPLAY"
) || fail "the server, the glasses or the layout went wrong (status $?)"

[[ $display =~ ^:[0-9]+$ ]] || fail "no display number: \"$display\""
number=${display#:}
for _ in $(seq 1 100); do
  [ -e "/tmp/.X11-unix/X${number}" ] || break
  sleep 0.05
done
[ ! -e "/tmp/.X11-unix/X${number}" ] || fail "the server outlived its shell"
echo "xorg-dummy-lib: ok on ${display}"
