#!/usr/bin/env bash
# A short run of the unpacked package's own files under 32-bit Wine: the package's publisher
# serves its built-in sensor set, and the package's probe reads values through the package's
# DLL, by number and by name; then the publisher stops and withdraws its table.
#   tests/release/end_to_end.sh PACKAGE_DIR      (the folder holding VorkastPlugin.dll and tools/)
# Where 32-bit programs run only under emulation, run it inside scripts/i386-emulation.
# Exit status 0 when every answer was the expected one.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
package=$(cd "${1:?usage: end_to_end.sh PACKAGE_DIR}" && pwd)
source "$repo/scripts/wine-env.sh"
if [ "$VORKAST_CAN_RUN_I386" != 1 ]; then
  echo "FAIL: 32-bit programs cannot run here ($VORKAST_I386_WHY)"; exit 1
fi
dll=$package/VorkastPlugin.dll
run() { timeout --kill-after=5 60 "$repo/scripts/wine-run" "$@"; }

work=$(mktemp -d)
source "$repo/scripts/publisher.sh"
trap 'stop_publisher; rm -rf "$work"' EXIT
fail=0
problem() { echo "FAIL: $*"; fail=1; }

if ! start_publisher 120 "$package/tools/vorkast-publish.exe" --interval 200; then
  cat "$work/publisher.log"; problem "the package's vorkast-publish did not start publishing"; exit 1
fi

# Sensor 4 of the built-in set is "Motherboard" at a constant 36.5, sensor 9 "+3.3V" at 3.312.
answers=$(run "$package/tools/vorkast-probe.exe" get "$dll" \
            ValueBySensor 4 ValueByName Motherboard ValueByName "+3.3V" ValueBySensor 0 2>&1 | tr -d '\r')
expected=$(printf '%s\n' 36.5 36.5 3.312 "Invalid sensor number")
if [ "$answers" = "$expected" ]; then
  echo "the package's probe read through the package's DLL: $(echo $answers | tr '\n' ' ')"
else
  problem "the package's probe answered:"$'\n'"$answers"$'\n'"expected:"$'\n'"$expected"
fi

stop_publisher
grep -q "withdrawn" "$work/publisher.log" ||
  { cat "$work/publisher.log"; problem "the package's publisher did not stop cleanly when its input ended"; }
exit $fail
