#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
#
# The shipped library is 32-bit. Where the kernel can execute 32-bit x86 code, its tests run
# under 32-bit Wine; everywhere its file is checked statically (exports, stdcall stack
# cleanup, imports), and the same sources built as 64-bit run the whole suite under 64-bit Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
source scripts/wine-env.sh

# A test that fails is run once more before it counts as failed: now and then a Wine process
# does not start at all (no output, a few hundredths of a second). A real fault fails twice.
ctest_args=(--output-on-failure --repeat until-pass:2)

echo "== static checks of the shipped 32-bit library"
bash tests/static/check_product_dll.sh build/i686/bin/VorkastPlugin.dll

if [ "$VORKAST_CAN_RUN_I386" = 1 ]; then
  echo "== tests of the 32-bit build under 32-bit Wine"
  (cd build/i686 && ctest "${ctest_args[@]}")
else
  echo "== this kernel cannot execute 32-bit x86 code: the 32-bit build is checked statically only"
fi

echo "== tests of the 64-bit build under 64-bit Wine"
(cd build/x64 && ctest "${ctest_args[@]}")
