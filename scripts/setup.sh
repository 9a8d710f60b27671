#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on Debian 12, skipping what is there.
#
# Where this kernel cannot execute 32-bit x86 code but lets a user namespace mount a binfmt_misc
# of its own (Linux 6.7 or newer), the 32-bit suites run under user-mode emulation
# (scripts/i386-emulation): that needs qemu-i386 8.1 or newer, which Debian 12 has only in its
# bookworm-backports suite. The suite is added from the machine's own configured Debian source.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake make gcc
  g++-mingw-w64-i686 g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
  wine wine64 wine32:i386
  xvfb
  zip unzip
)

apt_updated=0
apt_install() {
  export DEBIAN_FRONTEND=noninteractive
  if [ $apt_updated = 0 ]; then apt-get update -qq; apt_updated=1; fi
  apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ -d /usr/src/googletest/googletest ] || missing+=(googletest)

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt_install "${missing[@]}"
fi

# --- 32-bit emulation ------------------------------------------------------------------------
# Nothing to do where 32-bit code runs natively (unless VORKAST_I386_RUN=emulated asks for the
# emulation anyway), or where the kernel cannot give us a private binfmt_misc
# (scripts/i386-emulation says why).
if [ "${VORKAST_I386_RUN:-auto}" != emulated ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then exit 0; fi
[ "${VORKAST_I386_RUN:-auto}" != none ] || exit 0
scripts/i386-emulation --kernel-allows >/dev/null 2>&1 || exit 0
scripts/i386-emulation --qemu-ok >/dev/null 2>&1 && exit 0

# The backports suite of this release, from the first configured source of this release's main
# suite (its URIs, components and key), written the ordinary deb822 way.
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || { echo "setup: no release code name in /etc/os-release; 32-bit emulation not set up" >&2; exit 0; }
backports_list=/etc/apt/sources.list.d/$codename-backports.sources
has_backports() {
  grep -qsE "^[[:space:]]*Suites:.*[[:space:]]$codename-backports([[:space:]]|\$)" /etc/apt/sources.list.d/*.sources ||
    grep -qsE "^[[:space:]]*deb[[:space:]].*[[:space:]]$codename-backports[[:space:]]" \
      /etc/apt/sources.list /etc/apt/sources.list.d/*.list
}
if ! has_backports; then
  # deb822 stanzas: the first one of type deb whose suites include the release itself.
  stanza=$(awk -v rel="$codename" '
      BEGIN { RS=""; FS="\n" }
      {
        types=""; suites=""; uris=""; comps=""; key=""
        for (i = 1; i <= NF; i++) {
          line = $i; if (line ~ /^[[:space:]]*#/) continue
          split(line, kv, ":"); name = kv[1]; value = substr(line, length(name) + 2)
          gsub(/^[[:space:]]+|[[:space:]]+$/, "", value)
          if (name == "Types") types = value
          else if (name == "Suites") suites = " " value " "
          else if (name == "URIs") uris = value
          else if (name == "Components") comps = value
          else if (name == "Signed-By") key = value
        }
        if (types ~ /(^| )deb( |$)/ && index(suites, " " rel " ") && uris != "") {
          print uris; print comps; print key; exit
        }
      }' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
  if [ -z "$stanza" ] && [ -f /etc/apt/sources.list ]; then
    # One-line format: "deb [options] URI SUITE COMPONENTS..."
    stanza=$(awk -v rel="$codename" '
        $1 == "deb" {
          i = 2; key = ""
          if ($2 ~ /^\[/) { while ($i !~ /\]$/) { if ($i ~ /signed-by=/) key = $i; i++ }
                            if ($i ~ /signed-by=/) key = $i; i++ }
          if ($(i + 1) != rel) next
          comps = ""; for (j = i + 2; j <= NF; j++) comps = comps (comps == "" ? "" : " ") $j
          sub(/.*signed-by=/, "", key); sub(/[]].*/, "", key)
          print $i; print comps; print key; exit
        }' /etc/apt/sources.list)
  fi
  uris=$(sed -n 1p <<<"$stanza"); components=$(sed -n 2p <<<"$stanza"); key=$(sed -n 3p <<<"$stanza")
  if [ -z "$uris" ]; then
    echo "setup: no configured Debian source for $codename found; 32-bit emulation not set up" >&2
    exit 0
  fi
  echo "setup: adding the $codename-backports suite of the configured Debian source"
  {
    echo "Types: deb"
    echo "URIs: $uris"
    echo "Suites: $codename-backports"
    echo "Components: ${components:-main}"
    [ -z "$key" ] || echo "Signed-By: $key"
  } >"$backports_list"
  apt_updated=0
fi

# qemu-user only (not qemu-user-binfmt: nothing outside our own namespace gets a handler).
echo "setup: installing qemu-user from $codename-backports (for the emulated 32-bit suites)"
apt_install -t "$codename-backports" qemu-user
scripts/i386-emulation --qemu-ok || echo "setup: qemu-i386 is still too old for the emulated 32-bit suites" >&2
