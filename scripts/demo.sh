#!/usr/bin/env bash
# Installs what is missing, builds, and shows the plug-in at work through the stand-in host.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
source scripts/wine-env.sh
# Run the 32-bit product where this kernel can execute it, else the 64-bit build of it.
if [ "$VORKAST_CAN_RUN_I386" = 1 ]; then arch=i686; else arch=x64; fi
scripts/build.sh "$arch" >/dev/null
bin=build/$arch/bin
echo "== the plug-in as the host discovers it ($arch build)"
scripts/wine-run "$bin/vorkast-probe.exe" info "$bin/VorkastPlugin.dll"
