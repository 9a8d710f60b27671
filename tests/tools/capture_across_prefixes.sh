#!/usr/bin/env bash
# A table captured in one Wine prefix and served from the capture in another: what a reader
# sees in the second prefix is byte for byte what it saw in the first, and capturing the
# replayed table gives the same file again. Each prefix has its own wineserver, so the two
# tables never meet; only the capture file travels, as from a user's machine to ours.
#   capture_across_prefixes.sh BIN_DIR [SENSOR_FILE]   (no SENSOR_FILE: the built-in set)
# Needs the environment of scripts/wine-env.sh (WINEPREFIX, WINESERVER, DISPLAY).
set -euo pipefail
bin=$1
sensors=${2:-}
: "${WINEPREFIX:?run after: source scripts/wine-env.sh}" "${WINESERVER:?run after: source scripts/wine-env.sh}"
here=$(cd "$(dirname "$0")" && pwd)
run=("$here/../../scripts/wine-run")
first=$WINEPREFIX
second=$(dirname "$WINEPREFIX")/replay-prefix
work=$(mktemp -d)
trap 'rm -f "$work/flag"; sleep 0.5; rm -rf "$work"' EXIT

# The second prefix, made once; its server lingers a few seconds after its last process and
# has its standard streams detached (a server holding them would make CTest wait for ever).
in_second() { WINEPREFIX=$second "$@"; }
if [ ! -f "$second/system.reg" ]; then
  mkdir -p "$second"
  in_second /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1 || true
  in_second "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
fi
(in_second setsid "$WINESERVER" -p5 </dev/null >/dev/null 2>&1 &)

# Publishes in the current prefix until $work/flag goes; waits until the table is there.
publish() {
  # The log of the previous publisher must not answer for this one: its "publishing" line
  # would let a reader start before this publisher has made its table.
  rm -f "$work/publish.log"
  touch "$work/flag"
  { while [ -e "$work/flag" ]; do sleep 0.1; done; } | "${run[@]}" "$bin/vorkast-publish.exe" "$@" \
      --interval 3600000 >"$work/publish.log" 2>&1 &
  for _ in $(seq 200); do
    grep -q "vorkast-publish: publishing" "$work/publish.log" 2>/dev/null && return 0
    sleep 0.05
  done
  echo "the publisher did not start:"; cat "$work/publish.log"; return 1
}
withdraw() {
  rm -f "$work/flag"
  wait
}
# A capture without its first comment line (the time of the capture).
capture() { "${run[@]}" "$bin/vorkast-dump.exe" --capture "$(winepath_of "$1")" >/dev/null && sed -i 1d "$1"; }
winepath_of() { echo "Z:${1//\//\\}"; }

args=()
[ -n "$sensors" ] && args=("$(winepath_of "$sensors")")

publish "${args[@]}" --keep-busy
"${run[@]}" "$bin/table_bytes.exe" >"$work/first.bytes"
capture "$work/first.txt"
if in_second "${run[@]}" "$bin/table_bytes.exe" >/dev/null 2>&1; then
  echo "the second prefix sees the first one's table: it is not a prefix of its own"; exit 1
fi
withdraw

export WINEPREFIX=$second
publish "$(winepath_of "$work/first.txt")" --keep-busy
"${run[@]}" "$bin/table_bytes.exe" >"$work/second.bytes"
capture "$work/second.txt"
withdraw
export WINEPREFIX=$first

status=0
if ! diff "$work/first.bytes" "$work/second.bytes"; then
  echo "the table served in the second prefix differs from the one captured in the first (< first, > second)"
  status=1
fi
if ! diff "$work/first.txt" "$work/second.txt"; then
  echo "capturing the replayed table gave another file (< first capture, > second capture)"
  status=1
fi
[ "$status" = 0 ] && echo "the same table in both prefixes: $(wc -l <"$work/first.bytes") lines compared"
exit $status
