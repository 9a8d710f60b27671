#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
#
# The shipped library is 32-bit. Its file is always checked statically (exports, stdcall stack
# cleanup, imports), and its suites run under 32-bit Wine: natively where the kernel executes
# 32-bit x86 code, else under user-mode emulation (scripts/i386-emulation) where the kernel
# allows it; where neither works the output says so. The same sources built as 64-bit run the
# suites under 64-bit Wine, once as they are and once with undefined behaviour trapping.
#
# The release is checked as users get it (docs/release.md): the ZIP is made, built a second time
# from a copy of the sources in another folder and compared byte for byte, unpacked, and the
# files inside it are checked (SHA256SUMS, the static checks, dialog template and version
# resource, and a short run of its publisher, probe and DLL under 32-bit Wine).
#
# Every suite runs whatever happened to the one before; the end shows each tree's result and
# the exit status is non-zero if anything failed or could not be built. A tree's line counts
# only the suites that ran under Wine; one that ran none fails.
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
  if scripts/build.sh "$tree" 2>&1 | tee "$results/$tree.build.log"; then
    built+=("$tree")
  else
    # Our scripts say why in a line of their own (e.g. the 32-bit Wine loader does not start
    # under the emulation that was chosen); a compiler's error is above.
    why=$(grep -E '^(build\.sh|i386-emulation|wine-env): ' "$results/$tree.build.log" | tail -n1)
    note "$tree: BUILD FAILED${why:+ ($why)}"; bad=1
  fi
done
is_built() { [[ " ${built[*]} " == *" $1 "* ]]; }

echo "== static checks of the shipped 32-bit library"
if [ -f "$root/i686/bin/VorkastPlugin.dll" ] && bash tests/static/check_product_dll.sh "$root/i686/bin/VorkastPlugin.dll"; then
  note "static checks of the 32-bit DLL: passed"
else
  note "static checks of the 32-bit DLL: FAILED"; bad=1
fi
if bash tests/static/check_finds_faulty_exports.sh; then
  note "static checks reject a faulty DLL: passed"
else
  note "static checks reject a faulty DLL: FAILED"; bad=1
fi

# The test scripts' own tests. Exit status 77: could not run here (the last line says why).
for script_test in tests/scripts/*_test.sh; do
  echo "== $script_test"
  bash "$script_test" 2>&1 | tee "$results/script-test.log"
  case ${PIPESTATUS[0]} in
    0)  note "$script_test: passed" ;;
    77) note "$script_test: NOT RUN ($(tail -n1 "$results/script-test.log"))" ;;
    *)  note "$script_test: FAILED"; bad=1 ;;
  esac
done

# The release: made, rebuilt elsewhere and compared, unpacked and its own files checked.
release_start=$SECONDS
echo
echo "== the release package"
package_name=VorkastPlugin-1.0a-win32
zip_file=$root/i686/$package_name.zip
if is_built i686 && cmake --build "$root/i686" --target package; then
  echo
  echo "== the release built a second time, from a copy of the sources in another folder"
  rebuild_start=$SECONDS
  if bash tests/release/rebuild_and_compare.sh "$root/i686"; then
    note "release reproducible: a second build elsewhere gave byte-identical files ($((SECONDS - rebuild_start)) s)"
  else
    note "release reproducible: FAILED (the second build differs or did not build; see above)"; bad=1
  fi
  echo
  echo "== the files inside $package_name.zip"
  if bash tests/release/check_package.sh "$zip_file" "$results/unpacked" "$root/x64"; then
    note "the ZIP's files (entries, SHA256SUMS, static checks, dialog template, version resource): passed"
  else
    note "the ZIP's files: FAILED"; bad=1
  fi
  echo
  echo "== the ZIP's publisher and probe with the ZIP's DLL, under 32-bit Wine"
  e2e=(bash tests/release/end_to_end.sh "$results/unpacked/$package_name")
  case "$VORKAST_I386" in
    native)  e2e_way="natively" ;;
    emulate) e2e_way="emulated"; e2e=(scripts/i386-emulation "${e2e[@]}") ;;
    *)       e2e_way="" ;;
  esac
  if [ -z "$e2e_way" ]; then
    echo "   cannot run here: $VORKAST_I386_WHY"
    note "the ZIP's programs under 32-bit Wine: NOT RUN ($VORKAST_I386_WHY)"
  elif "${e2e[@]}"; then
    note "the ZIP's programs under 32-bit Wine, $e2e_way: passed"
  else
    note "the ZIP's programs under 32-bit Wine, $e2e_way: FAILED"; bad=1
  fi
else
  note "release package: NOT MADE (the 32-bit tree did not build, or making the ZIP failed); its checks did not run"; bad=1
fi
echo "== the release checks took $((SECONDS - release_start)) s"

# run_tree TREE TITLE [PREFIX COMMAND...]: the suites of one tree, counted.
totals=(0 0 0)
i386_ran=0
run_tree() {
  local tree=$1 title=$2; shift 2
  echo
  echo "== $title"
  if ! is_built "$tree"; then note "$title: not run (the tree did not build)"; bad=1; return; fi
  # Only the suites that run under Wine (label "wine"); the static checks ran above.
  "$@" scripts/run-suites "$root/$tree" "$title" "$results/$tree" -L '^wine$' || bad=1
  if [ -f "$results/$tree" ]; then
    read -r p f s <"$results/$tree"
    totals=($((totals[0] + p)) $((totals[1] + f)) $((totals[2] + s)))
    if [ $((p + f + s)) = 0 ]; then
      note "$title: NO SUITE RAN (the tree holds no Wine test)"; bad=1
    else
      note "$title: $p passed, $f failed, $s skipped"
      [ "$tree" != i686 ] || i386_ran=1
    fi
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
[ -z "$i386_way" ] || [ "$i386_ran" != 1 ] || echo "  (the 32-bit suites ran $i386_way)"
echo "total: ${totals[0]} passed, ${totals[1]} failed"
exit $bad
