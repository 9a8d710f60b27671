#!/usr/bin/env bash
# Builds the plug-in, tools and tests twice: build/i686 is the product (32-bit, what ships),
# build/x64 the same sources as 64-bit, for running the tests where 32-bit code cannot execute.
#   scripts/build.sh [i686|x64]...   (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
arches=("$@"); [ ${#arches[@]} -gt 0 ] || arches=(i686 x64)
for arch in "${arches[@]}"; do
  case "$arch" in
    i686) toolchain=cmake/i686-w64-mingw32.cmake ;;
    x64)  toolchain=cmake/x86_64-w64-mingw32.cmake ;;
    *) echo "build.sh: unknown target $arch (i686 or x64)" >&2; exit 2 ;;
  esac
  if [ ! -f "build/$arch/CMakeCache.txt" ]; then
    cmake -S . -B "build/$arch" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release >/dev/null
  fi
  cmake --build "build/$arch" -j"$(nproc)"
done
