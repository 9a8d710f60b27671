#!/usr/bin/env bash
# Checks the files inside the distribution ZIP, as a user gets them:
#   tests/release/check_package.sh ZIP UNPACK_DIR X64_TREE
# - the ZIP unpacks (every entry's CRC holds) into UNPACK_DIR and holds exactly the package's
#   files, in their fixed order;
# - SHA256SUMS beside the ZIP lists the ZIP and every entry, and every hash is right;
# - the static checks of the shipped DLL (tests/static/check_product_dll.sh) pass on its DLL;
# - its DLL's dialog template and version resource are what the .../Shipped32Bit tests of the
#   64-bit tree X64_TREE expect: they are run under 64-bit Wine on this file (a 64-bit process
#   maps the 32-bit file as an image).
# The end-to-end run of its programs is tests/release/end_to_end.sh (it needs 32-bit Wine).
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
zip_file=$(cd "$(dirname "${1:?usage: check_package.sh ZIP UNPACK_DIR X64_TREE}")" && pwd)/$(basename "$1")
unpack=${2:?}
x64=$(cd "${3:?}" 2>/dev/null && pwd || echo "$3")
name=$(basename "$zip_file" .zip)
sums=$(dirname "$zip_file")/SHA256SUMS
fail=0
problem() { echo "FAIL: $*"; fail=1; }

want_entries=(
  "$name/INSTALL.txt"
  "$name/VorkastPlugin.dll"
  "$name/tools/tools.md"
  "$name/tools/vorkast-dump.exe"
  "$name/tools/vorkast-probe.exe"
  "$name/tools/vorkast-publish.exe"
)
got_entries=$(unzip -Z1 "$zip_file" 2>&1) || problem "unzip cannot list $zip_file: $got_entries"
[ "$got_entries" = "$(printf '%s\n' "${want_entries[@]}")" ] ||
  problem "the ZIP's entries differ from the package's files; expected: ${want_entries[*]}; got: $(echo $got_entries)"
rm -rf "$unpack"; mkdir -p "$unpack"
out=$(unzip -q "$zip_file" -d "$unpack" 2>&1) || problem "unpacking failed: $out"

echo "== SHA256SUMS"
if [ ! -f "$sums" ]; then
  problem "no SHA256SUMS beside $zip_file"
else
  # The ZIP's line is checked beside the ZIP, the entries' lines in the unpacked folder.
  listed=$(awk '{print $2}' "$sums")
  [ "$listed" = "$(printf '%s\n' "$name.zip" "${want_entries[@]}")" ] ||
    problem "SHA256SUMS lists $(echo $listed), expected the ZIP and its entries"
  (cd "$(dirname "$zip_file")" && grep -E "  $name\.zip\$" "$sums" | sha256sum --check --strict) || problem "the ZIP's hash"
  (cd "$unpack" && grep -vE "  $name\.zip\$" "$sums" | sha256sum --check --strict --quiet) || problem "an entry's hash"
fi

dll=$unpack/$name/VorkastPlugin.dll
echo "== static checks of the ZIP's DLL"
bash "$repo/tests/static/check_product_dll.sh" "$dll" || problem "static checks of the ZIP's DLL"

echo "== the ZIP's DLL: dialog template and version resource (the Shipped32Bit tests of $x64, under 64-bit Wine)"
source "$repo/scripts/wine-env.sh"
windows_path="Z:$(cd "$(dirname "$dll")" && pwd)/$(basename "$dll")"
windows_path=${windows_path//\//\\}
# suite program, gtest filter, number of tests it must run
for run in "dialog_tests:*DialogTemplate*/Shipped32Bit:2" "tools_tests:*VersionResource*/Shipped32Bit:1"; do
  IFS=: read -r suite filter count <<<"$run"
  program=$x64/bin/$suite.exe
  if [ ! -f "$program" ]; then problem "$program is missing: the 64-bit tree has not been built"; continue; fi
  out=$(VORKAST_SHIPPED_PLUGIN=$windows_path timeout 120 "$repo/scripts/wine-run" "$program" \
          --gtest_filter="$filter" --gtest_color=no 2>&1)
  status=$?
  ran=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' <<<"$out")
  if [ $status != 0 ] || [ "${ran:-0}" != "$count" ]; then
    echo "$out"
    problem "$suite --gtest_filter=$filter on the ZIP's DLL: exit status $status, ${ran:-0} of $count tests passed"
  else
    echo "$suite: $ran tests passed on $windows_path"
  fi
done

# The tests above passed on the file they were given only if they read the one named: given a
# missing file, they must fail.
if [ -f "$x64/bin/tools_tests.exe" ] &&
   VORKAST_SHIPPED_PLUGIN="$windows_path.missing" timeout 120 "$repo/scripts/wine-run" "$x64/bin/tools_tests.exe" \
     --gtest_filter='*VersionResource*/Shipped32Bit' >/dev/null 2>&1; then
  problem "the Shipped32Bit tests passed on a missing file: they do not read VORKAST_SHIPPED_PLUGIN"
fi

[ $fail = 0 ] && echo "the ZIP's files: entries, SHA256SUMS, static checks, dialog template and version resource all pass"
exit $fail
