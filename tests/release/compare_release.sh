#!/usr/bin/env bash
# Compares the release files of two 32-bit build trees byte for byte:
#   tests/release/compare_release.sh FIRST_TREE SECOND_TREE
# The files: the ZIP and SHA256SUMS, every file of the unpacked package (package/, the stripped
# copies that ship), and the build tree's own VorkastPlugin.dll and tools (bin/, with symbols).
# For each file that differs it names the file and the first differing offset; a file that one
# tree has and the other lacks counts as a difference. Exit status 0 only when all are equal.
set -uo pipefail
first=${1:?usage: compare_release.sh FIRST_TREE SECOND_TREE}
second=${2:?}

# The files to compare, relative to a tree, sorted.
release_files() {
  (cd "$1" && {
    find . -maxdepth 1 -type f \( -name '*.zip' -o -name SHA256SUMS \)
    [ ! -d package ] || find package -type f
    find bin -maxdepth 1 -type f \( -name VorkastPlugin.dll -o -name 'vorkast-probe.exe' \
         -o -name 'vorkast-publish.exe' -o -name 'vorkast-dump.exe' \)
  } 2>/dev/null | sed 's|^\./||' | LC_ALL=C sort)
}

mapfile -t files_first < <(release_files "$first")
mapfile -t files_second < <(release_files "$second")
if [ ${#files_first[@]} = 0 ]; then echo "FAIL: $first holds no release files (no package made?)"; exit 1; fi

fail=0 same=0
while IFS= read -r file; do
  if [ ! -f "$first/$file" ]; then echo "FAIL: $file: only the second build has it"; fail=1; continue; fi
  if [ ! -f "$second/$file" ]; then echo "FAIL: $file: only the first build has it"; fail=1; continue; fi
  if out=$(cmp -- "$first/$file" "$second/$file" 2>&1); then
    same=$((same + 1))
  else
    # "A B differ: byte N, line M" (N counts from 1) or "cmp: EOF on A after byte N ..."
    byte=$(sed -nE 's/.*differ: (char|byte) ([0-9]+).*/\2/p' <<<"$out")
    if [ -n "$byte" ]; then
      offset=$((byte - 1))
      echo "FAIL: $file differs first at offset $offset (0x$(printf '%x' "$offset")):" \
           "byte 0x$(od -An -tx1 -j "$offset" -N1 "$first/$file" | tr -d ' ') in the first build," \
           "0x$(od -An -tx1 -j "$offset" -N1 "$second/$file" | tr -d ' ') in the second"
    else
      size_first=$(wc -c <"$first/$file"); size_second=$(wc -c <"$second/$file")
      echo "FAIL: $file: one is the start of the other ($size_first and $size_second bytes): they differ" \
           "first at offset $(( size_first < size_second ? size_first : size_second ))"
    fi
    fail=1
  fi
done < <(printf '%s\n' "${files_first[@]}" "${files_second[@]}" | LC_ALL=C sort -u)

if [ $fail = 0 ]; then echo "release files byte-identical in both builds: $same files (the ZIP, SHA256SUMS, the package's files, bin/'s DLL and tools)"; fi
exit $fail
