#!/usr/bin/env bash
# scripts/i386-emulation must never let a way be chosen that then fails, and must clean up after
# any failure. With a stand-in qemu-i386 that claims a new enough version but runs nothing (so
# the 32-bit Wine loader cannot start inside the namespace), for root and for an unprivileged
# user, with standard input open and closed:
#   - --check passes only where the namespace with its full maps can be made (root), and fails
#     saying why where it cannot (an unprivileged user may not map the other users);
#   - a run fails with status 125 and says why: the maps are refused, or the 32-bit Wine loader
#     does not start (a chosen way that fails must not pass as a run without 32-bit code);
#   - no process of the run and no temporary folder is left behind.
# Needs a kernel that lets a user namespace mount binfmt_misc (Linux 6.7 or newer); else exit
# status 77 with the reason on the last line.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
fail=0
check() { if [ "$2" != "$3" ]; then echo "FAIL: $1: got \"$2\", expected \"$3\""; fail=1; fi; }
contains() { if ! grep -qF -- "$3" <<<"$2"; then echo "FAIL: $1: got \"$2\", expected it to say \"$3\""; fail=1; fi; }

if ! why=$("$repo/scripts/i386-emulation" --kernel-allows 2>&1); then
  echo "i386-emulation cannot be tried here: $why"; exit 77
fi

work=$(mktemp -d)
chmod 755 "$work"
# Processes of a run carry our folder in their command line; whatever is left is ended.
# (The pattern does not match itself, so the grep is not counted.)
leftovers() {
  grep -lasE -- "$work/(home|scripts)" /proc/[0-9]*/cmdline | sed -n 's|^/proc/\([0-9]*\)/cmdline$|\1|p'
}
trap 'for p in $(leftovers); do kill "$p" 2>/dev/null; done; rm -rf "$work"' EXIT

# A copy of the script that every user can read, beside a stand-in emulator.
mkdir -p "$work/scripts" "$work/bin"
cp -r "$repo/scripts/i386-emulation" "$repo/scripts/i386-emulation.d" "$work/scripts/"
cat >"$work/bin/qemu-i386" <<'QEMU'
#!/bin/sh
if [ "${1:-}" = --version ]; then echo "qemu-i386 version 9.9.9"; exit 0; fi
echo "stand-in qemu-i386 runs nothing" >&2
exit 1
QEMU
chmod 755 "$work/bin/qemu-i386"
chmod -R a+rX "$work"

# run AS USER STDIN ARGS...: the script as that user ("root", "unprivileged"), with standard
# input "open" or "closed"; prints its exit status, then its output.
run() {
  local user=$1 stdin=$2; shift 2
  local home=$work/home-$user
  mkdir -p "$home/tmp"
  local as=()
  if [ "$user" = unprivileged ] && [ "$(id -u)" = 0 ]; then
    chown -R 65534:65534 "$home"
    as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  fi
  local env=(env HOME="$home" TMPDIR="$home/tmp" VORKAST_BUILD_ROOT="$home/build" PATH="$work/bin:$PATH")
  # Into a file, not a pipe: a process left behind would hold a pipe open for good.
  local status
  if [ "$stdin" = closed ]; then
    "${as[@]}" "${env[@]}" timeout 60 "$work/scripts/i386-emulation" "$@" >"$work/out" 2>&1 <&-
  else
    "${as[@]}" "${env[@]}" timeout 60 "$work/scripts/i386-emulation" "$@" >"$work/out" 2>&1 </dev/null
  fi
  status=$?
  echo "$status"
  cat "$work/out"
}

if [ "$(id -u)" = 0 ]; then users=(root unprivileged); else users=(unprivileged); fi
for user in "${users[@]}"; do
  case $user in
    root)         check_status=0; run_says="the 32-bit Wine loader does not start under emulation" ;;
    unprivileged) check_status=1; run_says="that needs root" ;;
  esac
  out=$(run "$user" open --check)
  check "$user: --check exit status" "$(head -n1 <<<"$out")" "$check_status"
  [ "$check_status" = 0 ] || contains "$user: --check says why" "$(tail -n +2 <<<"$out")" "$run_says"
  for stdin in open closed; do
    case_name="$user, standard input $stdin: run"
    out=$(run "$user" "$stdin" true)
    check "$case_name: exit status" "$(head -n1 <<<"$out")" 125
    contains "$case_name: says why" "$(tail -n +2 <<<"$out")" "$run_says"
    sleep 0.2
    check "$case_name: processes left behind" "$(leftovers | tr '\n' ' ')" ""
    check "$case_name: temporary folders left behind" "$(ls -A "$work/home-$user/tmp")" ""
    for p in $(leftovers); do kill "$p" 2>/dev/null; done
    rm -rf "${work:?}/home-$user/tmp/"*
  done
done

[ $fail = 0 ] && echo "i386-emulation: --check fails where the run cannot map the users; a run that cannot start 32-bit Wine fails saying why; nothing is left behind (${users[*]})"
[ $fail = 0 ]
