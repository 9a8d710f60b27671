#!/usr/bin/env bash
# Builds the release a second time, from a copy of the sources in another folder and into another
# build folder, and compares its files byte for byte with a tree's (tests/release/compare_release.sh):
#   tests/release/rebuild_and_compare.sh TREE
# TREE is a configured 32-bit build tree whose package has been made (cmake --build TREE
# --target package). Only what ships is built the second time: no test suites.
# The copy is what the first build saw: in a git checkout the tracked files and the untracked
# ones that are not ignored, as they are in the working tree; else every file but build/. The
# copy is no git checkout, so it gets the commit's time as SOURCE_DATE_EPOCH (the first build
# took it from git; one given in the environment is used by both).
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
tree=$(cd "${1:?usage: rebuild_and_compare.sh TREE}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
start=$SECONDS
# Another time zone and another umask than the first build's, as on another person's machine.
export TZ=Pacific/Kiritimati
umask 077

mkdir "$work/sources"
if [ "$(git -C "$repo" rev-parse --show-toplevel 2>/dev/null)" = "$(cd "$repo" && pwd -P)" ]; then
  [ -n "${SOURCE_DATE_EPOCH:-}" ] || SOURCE_DATE_EPOCH=$(git -C "$repo" log -1 --format=%ct)
  export SOURCE_DATE_EPOCH
  (cd "$repo" && git ls-files -z --cached --others --exclude-standard |
     while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
     tar --null -T - -cf -) | tar -xf - -C "$work/sources"
else
  (cd "$repo" && tar --exclude=./build -cf - .) | tar -xf - -C "$work/sources"
fi

toolchain=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$tree/CMakeCache.txt")
toolchain=$work/sources/cmake/$(basename "${toolchain:-i686-w64-mingw32.cmake}")
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$tree/CMakeCache.txt")
echo "rebuild: sources copied to $work/sources, building the release in $work/build"
cmake -S "$work/sources" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE="${build_type:-Release}" -DVORKAST_BUILD_TESTS=OFF >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; echo "FAIL: the second build could not be configured"; exit 1; }
# Built as a user builds it; the time is given to the package step only.
{ env -u SOURCE_DATE_EPOCH cmake --build "$work/build" -j"$(nproc)" &&
  cmake --build "$work/build" --target package; } >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; echo "FAIL: the second build failed"; exit 1; }
echo "rebuild: built in $((SECONDS - start)) s"
bash "$repo/tests/release/compare_release.sh" "$tree" "$work/build"
