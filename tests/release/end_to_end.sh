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
publisher_pid=
# The publisher reads its input from a loop that runs while $work/running exists: removing the
# file ends the input, and the publisher withdraws its table and exits.
stop_publisher() {
  rm -f "$work/running"
  if [ -n "$publisher_pid" ]; then
    for _ in $(seq 100); do kill -0 "$publisher_pid" 2>/dev/null || break; sleep 0.1; done
    kill "$publisher_pid" 2>/dev/null || true  # only if it has not stopped within 10 s
    wait "$publisher_pid" 2>/dev/null || true
    publisher_pid=
  fi
}
trap 'stop_publisher; rm -rf "$work"' EXIT
fail=0
problem() { echo "FAIL: $*"; fail=1; }

touch "$work/running"
{ while [ -e "$work/running" ]; do sleep 0.2; done; } |
  timeout --kill-after=5 120 "$repo/scripts/wine-run" "$package/tools/vorkast-publish.exe" --interval 200 \
    >"$work/publisher.log" 2>&1 &
publisher_pid=$!
for _ in $(seq 300); do grep -q "publishing" "$work/publisher.log" && break; sleep 0.1; done
if ! grep -q "publishing" "$work/publisher.log"; then
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
