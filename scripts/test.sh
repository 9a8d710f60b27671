#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
#
# The shipped library is 32-bit. Its file is always checked statically (exports, stdcall stack
# cleanup, imports), and its suites run under 32-bit Wine: natively where the kernel executes
# 32-bit x86 code, else under user-mode emulation (scripts/i386-emulation) where the kernel
# allows it; where neither works the output says so. The same sources built as 64-bit run the
# suites under 64-bit Wine, once as they are and once with undefined behaviour trapping.
#
# Every suite runs whatever happened to the one before; the end shows each tree's result and
# the exit status is non-zero if anything failed or could not be built.
#   VORKAST_I386_RUN=auto|native|emulated|none   see scripts/wine-env.sh
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1
source scripts/wine-env.sh
root=${VORKAST_BUILD_ROOT:-build}
results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT

summary=()
bad=0
note() { summary+=("$1"); }

case "$VORKAST_I386" in
  native)  i386_way="natively" ;;
  emulate) i386_way="under emulation (qemu-i386 in a private binfmt_misc namespace; see docs/32-bit.md)" ;;
  *)       i386_way="" ;;
esac

built=()
for tree in x64 x64-ubsan i686; do
  echo "== building $root/$tree"
  if scripts/build.sh "$tree"; then built+=("$tree"); else note "$tree: BUILD FAILED"; bad=1; fi
done
is_built() { [[ " ${built[*]} " == *" $1 "* ]]; }

echo "== static checks of the shipped 32-bit library"
if [ -f "$root/i686/bin/VorkastPlugin.dll" ] && bash tests/static/check_product_dll.sh "$root/i686/bin/VorkastPlugin.dll"; then
  note "static checks of the 32-bit DLL: passed"
else
  note "static checks of the 32-bit DLL: FAILED"; bad=1
fi

echo "== the test rig's retry rule"
if bash tests/scripts/run_suites_test.sh; then note "retry rule of scripts/run-suites: passed"; else note "retry rule of scripts/run-suites: FAILED"; bad=1; fi

# run_tree TREE TITLE [PREFIX COMMAND...]: the suites of one tree, counted.
totals=(0 0 0)
run_tree() {
  local tree=$1 title=$2; shift 2
  echo
  echo "== $title"
  if ! is_built "$tree"; then note "$title: not run (the tree did not build)"; bad=1; return; fi
  "$@" scripts/run-suites "$root/$tree" "$title" "$results/$tree" || bad=1
  if [ -f "$results/$tree" ]; then
    read -r p f s <"$results/$tree"
    totals=($((totals[0] + p)) $((totals[1] + f)) $((totals[2] + s)))
    note "$title: $p passed, $f failed, $s skipped"
  else
    note "$title: did not report (see above)"; bad=1
  fi
}

case "$VORKAST_I386" in
  native)  run_tree i686 "32-bit build under 32-bit Wine, natively" ;;
  emulate)
    echo
    if [ "${VORKAST_I386_RUN:-auto}" = emulated ]; then
      echo "== the 32-bit suites run under emulation, as VORKAST_I386_RUN=emulated asks"
    else
      echo "== the 32-bit suites run under emulation: this kernel does not execute 32-bit x86 code"
    fi
    echo "   Every 32-bit process is run by qemu-i386; faults get their trap numbers back from a"
    echo "   preloaded library. Times are not native ones."
    run_tree i686 "32-bit build under 32-bit Wine, emulated" scripts/i386-emulation ;;
  *)
    echo
    echo "== the 32-bit build's suites CANNOT RUN here: $VORKAST_I386_WHY"
    echo "   The shipped file is checked statically only; its calling convention, x87/SSE maths"
    echo "   and 32-bit runtime are not exercised on this machine."
    note "32-bit build: NOT RUN ($VORKAST_I386_WHY); static checks only" ;;
esac
run_tree x64 "64-bit build under 64-bit Wine"
run_tree x64-ubsan "64-bit build with undefined behaviour trapping"

echo
echo "== summary"
for line in "${summary[@]}"; do echo "  $line"; done
[ -z "$i386_way" ] || echo "  (the 32-bit suites ran $i386_way)"
echo "total: ${totals[0]} passed, ${totals[1]} failed"
exit $bad
