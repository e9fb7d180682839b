#!/usr/bin/env bash
# The guard must be able to fail: a small tree with one breach of each kind.
set -uo pipefail
guard=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree"/src/{platform/hid,base/log,device/hid,app,ui}
echo '#include "base/log/orvex_log.h"' >"$tree/src/platform/hid/hid.cpp"
echo '#include "device/hid/x.h"' >"$tree/src/base/log/log.cpp"
echo '#include "app/app_delegate.h"' >"$tree/src/device/hid/monitor.cpp"
echo '#include <QWidget>' >"$tree/src/device/hid/widget.cpp"
echo '#include <libudev.h>' >"$tree/src/app/udev_user.cpp"
echo '#include <avahi-client/client.h>' >"$tree/src/device/hid/avahi_user.cpp"
echo '#include <hidapi/hidapi.h>' >"$tree/src/device/hid/hidapi_user.cpp"
echo '#include "sim/glasses/sim_glasses.h"' >"$tree/src/ui/home_window.cpp"
echo '#include "sim/glasses/sim_glasses.h"' >"$tree/src/ui/main.cpp"
cat >"$tree/links.txt" <<'LINKS'
vistrelle_device_hid src/device/hid vistrelle_base;vistrelle_app
vistrelle_base src/base vistrelle_platform;vistrelle_device_protocol
vistrelle_ui src/ui vistrelle_app;vistrelle_sim
vistrelle src/ui vistrelle_ui;vistrelle_sim
LINKS
output=$("$guard" "$tree" "$tree/links.txt")
status=$?
echo "$output"
expected=(
  "vistrelle_device_hid (src/device/hid) links vistrelle_app"
  "vistrelle_base (src/base) links vistrelle_device_protocol"
  "vistrelle_ui (src/ui) links vistrelle_sim"
  "src/platform/hid/hid.cpp includes base/log/orvex_log.h"
  "src/base/log/log.cpp includes device/hid/x.h"
  "src/device/hid/monitor.cpp includes app/app_delegate.h"
  "src/device/hid/widget.cpp includes <QWidget>"
  "src/app/udev_user.cpp includes <libudev.h>"
  "src/device/hid/avahi_user.cpp includes <avahi-client/client.h>"
  "src/device/hid/hidapi_user.cpp includes <hidapi/hidapi.h>"
  "src/ui/home_window.cpp includes sim/glasses/sim_glasses.h"
  "layering: 11 breach(es)"
)
failed=0
[ "$status" -eq 1 ] || { echo "self-test: the guard exited $status, not 1"; failed=1; }
for line in "${expected[@]}"; do
  grep -qF "$line" <<<"$output" || { echo "self-test: missing: $line"; failed=1; }
done
exit $failed
