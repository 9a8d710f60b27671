#!/usr/bin/env bash
# Builds the plug-in, tools and tests twice: build/i686 is the product (32-bit, what ships),
# build/x64 the same sources as 64-bit, for running the tests where 32-bit code cannot execute.
#   scripts/build.sh [i686|x64]...   (default: both)
# VORKAST_BUILD_ROOT moves the trees (default: build), so that several work trees or people
# can build side by side.
set -euo pipefail
cd "$(dirname "$0")/.."
root=${VORKAST_BUILD_ROOT:-build}
arches=("$@"); [ ${#arches[@]} -gt 0 ] || arches=(i686 x64)
# Linking a test program lists its tests under Wine, so the build needs Wine ready.
source scripts/wine-env.sh
for arch in "${arches[@]}"; do
  case "$arch" in
    i686) toolchain=cmake/i686-w64-mingw32.cmake ;;
    x64)  toolchain=cmake/x86_64-w64-mingw32.cmake ;;
    *) echo "build.sh: unknown target $arch (i686 or x64)" >&2; exit 2 ;;
  esac
  wine_tests=ON
  if [ "$arch" = i686 ] && [ "$VORKAST_CAN_RUN_I386" != 1 ]; then wine_tests=OFF; fi
  if [ ! -f "$root/$arch/CMakeCache.txt" ]; then
    cmake -S . -B "$root/$arch" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
      -DVORKAST_WINE_TESTS=$wine_tests >/dev/null
  else
    cmake "$root/$arch" -DVORKAST_WINE_TESTS=$wine_tests >/dev/null
  fi
  cmake --build "$root/$arch" -j"$(nproc)"
done
