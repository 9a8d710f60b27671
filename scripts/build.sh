#!/usr/bin/env bash
# Builds the plug-in, tools and tests:
#   build/i686       the product (32-bit, what ships)
#   build/x64        the same sources as 64-bit
#   build/x64-ubsan  the 64-bit tree with undefined behaviour trapping (VORKAST_SANITIZE_UNDEFINED)
#   scripts/build.sh [i686|x64|x64-ubsan]...   (default: i686 x64)
# VORKAST_BUILD_ROOT moves the trees (default: build), so that several work trees or people
# can build side by side.
#
# Linking a test program lists its tests under Wine, so the build needs Wine able to run the
# tree's machine type. Where 32-bit code runs only under emulation, the 32-bit tree is built
# inside scripts/i386-emulation; where it cannot run at all, its tests are built but not listed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=${VORKAST_BUILD_ROOT:-build}
arches=("$@"); [ ${#arches[@]} -gt 0 ] || arches=(i686 x64)
source scripts/wine-env.sh
for arch in "${arches[@]}"; do
  extra=()
  case "$arch" in
    i686) toolchain=cmake/i686-w64-mingw32.cmake ;;
    x64)  toolchain=cmake/x86_64-w64-mingw32.cmake ;;
    x64-ubsan) toolchain=cmake/x86_64-w64-mingw32.cmake; extra=(-DVORKAST_SANITIZE_UNDEFINED=ON) ;;
    *) echo "build.sh: unknown target $arch (i686, x64 or x64-ubsan)" >&2; exit 2 ;;
  esac
  if [ "$arch" = i686 ] && [ "$VORKAST_I386" = emulate ]; then
    echo "build.sh: building the 32-bit tree under 32-bit emulation (its tests are listed by running them)"
    scripts/i386-emulation scripts/build.sh i686
    continue
  fi
  wine_tests=ON
  if [ "$arch" = i686 ] && [ "$VORKAST_CAN_RUN_I386" != 1 ]; then
    # Inside the emulation 32-bit programs were meant to run: a tree without its suites would
    # pass for one that has them.
    if [ "${VORKAST_I386_EMULATED:-0}" = 1 ]; then
      echo "build.sh: the 32-bit tree is built under emulation, but $VORKAST_I386_WHY" >&2; exit 1
    fi
    wine_tests=OFF
  fi
  if [ ! -f "$root/$arch/CMakeCache.txt" ]; then
    cmake -S . -B "$root/$arch" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
      -DVORKAST_WINE_TESTS=$wine_tests "${extra[@]}" >/dev/null
  else
    cmake "$root/$arch" -DVORKAST_WINE_TESTS=$wine_tests "${extra[@]}" >/dev/null
  fi
  cmake --build "$root/$arch" -j"$(nproc)"
done
