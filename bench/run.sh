#!/usr/bin/env bash
# Builds the benchmark and the plug-in, prepares Wine, and runs every part of vorkast-bench with
# the CPU placement its figures need; prints the machine and the figures.
#
#   bench/run.sh [x64|i686] [blocks=N] [rounds=N]        (default x64)
#
# i686 runs natively where the kernel executes 32-bit code, else inside scripts/i386-emulation,
# and then says plainly that its times are not comparable with native ones.
#
# Under Wine every OpenFileMapping, MapViewOfFile, UnmapViewOfFile and CloseHandle is a round
# trip to the wineserver. A round trip between two CPUs costs several times one on the same CPU,
# and which of the two the scheduler picks changes from moment to moment, so:
#   - reads:  the benchmark and the wineserver are both pinned to CPU 0;
#   - dialog: the same;
#   - busy:   the wineserver stays on CPU 0 and the benchmark may use every CPU: its reader
#             thread runs on CPU 0 (next to the server) and the writer thread on CPU 1.
# The wineserver's own CPU mask is restored on exit.
# VORKAST_BUILD_ROOT, VORKAST_WINE_ROOT and VORKAST_DISPLAY are honoured as in scripts/build.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=x64
args=()
for a in "$@"; do
  case "$a" in
    x64|i686) arch=$a ;;
    *) args+=("$a") ;;
  esac
done
root=${VORKAST_BUILD_ROOT:-build}

source scripts/wine-env.sh
emulated=0
if [ "$arch" = i686 ]; then
  case "$VORKAST_I386" in
    emulate) exec scripts/i386-emulation bash "$0" "$@" ;;
    emulated) emulated=1 ;;
    native) ;;
    *) echo "run.sh: the 32-bit benchmark cannot run here: $VORKAST_I386_WHY" >&2; exit 1 ;;
  esac
fi
if [ ! -f "$root/$arch/CMakeCache.txt" ]; then
  scripts/build.sh "$arch" >/dev/null
fi
cmake "$root/$arch" >/dev/null
cmake --build "$root/$arch" --target vorkast-bench -j"$(nproc)" >/dev/null
bench="$root/$arch/bin/vorkast-bench.exe"

# The wineserver of this prefix: the one whose working folder is server-<device>-<inode> of the
# prefix (hexadecimal), which is how Wine names a prefix's server folder.
server_dir=$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))
server_pid=
for proc in /proc/[0-9]*; do
  cwd=$(readlink "$proc/cwd" 2>/dev/null) || continue
  if [ "${cwd##*/}" = "$server_dir" ] && [[ "$(readlink "$proc/exe" 2>/dev/null)" == *wineserver* ]]; then
    server_pid=${proc#/proc/}
    break
  fi
done
if [ -z "$server_pid" ]; then
  echo "run.sh: no wineserver found for $WINEPREFIX" >&2
  exit 1
fi
server_cpus=$(taskset -pc "$server_pid" | sed 's/.*: //')
trap 'taskset -a -pc "$server_cpus" "$server_pid" >/dev/null 2>&1 || true' EXIT
taskset -a -pc 0 "$server_pid" >/dev/null

echo "== vorkast-bench, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "host:     $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(nproc) CPUs online, Linux $(uname -r)"
echo "wine:     $(/usr/lib/wine/wine64 --version), wineserver pid $server_pid pinned to CPU 0"
echo "load:     $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) before the run"
if [ $emulated = 1 ]; then
  echo "EMULATED: the 32-bit benchmark runs under qemu-i386 (user-mode emulation; the wineserver and"
  echo "          the kernel are native). These times are NOT comparable with native ones, 32- or"
  echo "          64-bit: emulated code runs 2-3 times slower and every process starts slower."
  echo "          Even ratios between figures of this run hold only roughly; use them with care."
fi
echo
echo "-- reads (benchmark pinned to CPU 0, with the wineserver)"
taskset -c 0 scripts/wine-run "$bench" reads "${args[@]}"
echo
echo "-- dialog (benchmark pinned to CPU 0, with the wineserver)"
taskset -c 0 scripts/wine-run "$bench" dialog "${args[@]}" | sed -n '3,$p'
echo
echo "-- busy (wineserver on CPU 0; the benchmark places its reader on CPU 0 and its writer on CPU 1)"
scripts/wine-run "$bench" busy "${args[@]}" | sed -n '3,$p'
if [ $emulated = 1 ]; then
  echo
  echo "EMULATED run (qemu-i386): the figures and the met/MISSED verdicts above are not comparable"
  echo "with native ones; judge the targets on a machine that runs 32-bit code natively."
fi
