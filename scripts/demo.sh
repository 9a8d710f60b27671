#!/usr/bin/env bash
# Installs what is missing, builds, and shows the plug-in at work: the stand-in host asks it
# before any sensor program runs, the stand-in sensor program then publishes its built-in
# sensor set, the table is printed, the host watches values by number and by name, and the
# publisher is stopped cleanly by ending its input. Every step has a time limit: the demo
# cannot hang.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${VORKAST_I386_EMULATED:-0}" = 1 ] || scripts/setup.sh
source scripts/wine-env.sh
# The 32-bit product, as shipped, wherever 32-bit code can execute: natively, or inside the
# emulation (scripts/i386-emulation); only where neither works, the 64-bit build of it.
case "$VORKAST_I386" in
  emulate)
    echo "== this kernel does not execute 32-bit code here: the demo runs the 32-bit plug-in and tools"
    echo "   under user-mode emulation (qemu-i386, scripts/i386-emulation)"
    exec scripts/i386-emulation bash "$0" "$@" ;;
  native)   arch=i686; how="the shipped 32-bit build, run natively" ;;
  emulated) arch=i686; how="the shipped 32-bit build, run under emulation" ;;
  *)        arch=x64; how="the 64-bit build of the same sources: the 32-bit one cannot run here ($VORKAST_I386_WHY)" ;;
esac
scripts/build.sh "$arch" >/dev/null
bin=${VORKAST_BUILD_ROOT:-build}/$arch/bin
plugin=$bin/VorkastPlugin.dll

run() { timeout --kill-after=5 30 scripts/wine-run "$@"; }

work=$(mktemp -d)
source scripts/publisher.sh
trap 'stop_publisher; rm -rf "$work"' EXIT

echo "== the plug-in as the host discovers it: $how"
echo "   ($plugin)"
run "$bin/vorkast-probe.exe" info "$plugin"

echo
echo "== the host asks before any sensor program runs"
run "$bin/vorkast-probe.exe" get "$plugin" ValueBySensor 1 ValueByName "CPU Package"

echo
echo "== the stand-in sensor program starts with its built-in sensor set"
started=0
start_publisher 300 "$bin/vorkast-publish.exe" --interval 500 && started=1
cat "$work/publisher.log"
[ $started = 1 ] || { echo "demo: the publisher did not start" >&2; exit 1; }

echo
echo "== the table, as vorkast-dump prints it"
run "$bin/vorkast-dump.exe"

echo
echo "== the host watches by number (3 seconds)"
run "$bin/vorkast-probe.exe" watch "$plugin" ValueBySensor 1 ValueBySensor 5 ValueBySensor 7 \
  ValueBySensor 10 --interval 500 --count 6 2>&1

echo
echo "== the host watches by name (3 seconds)"
run "$bin/vorkast-probe.exe" watch "$plugin" ValueByName "CPU Package" ValueByName "CPU Fan" \
  ValueByName "Fan Failure" ValueByName "Sensor Time" --interval 500 --count 6 2>&1

echo
echo "== the sensor program stops (its input ends)"
stop_publisher
tail -n 1 "$work/publisher.log"
run "$bin/vorkast-probe.exe" get "$plugin" ValueBySensor 1
