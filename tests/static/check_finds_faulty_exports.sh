#!/usr/bin/env bash
# The static check must reject a file that is wrong in the ways it promises to catch: builds
# faulty_exports.dll (a decorated name at another function's address, a decorated function that
# leaves its arguments on the stack, an import that the allow-list refuses) and expects exactly
# those three findings and a failed check.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

i686-w64-mingw32-gcc-win32 -O2 -shared -o "$work/faulty_exports.dll" \
  "$here/faulty_exports.c" "$here/faulty_exports.def" -Wl,--enable-stdcall-fixup

status=0
output=$(bash "$here/check_product_dll.sh" "$work/faulty_exports.dll") || status=$?
got=$(grep '^FAIL:' <<<"$output" | sed -E 's/^(FAIL: [^:]*):.*/\1/' | sort || true)
want=$(printf '%s\n' \
  'FAIL: _dllshutdown@4 should end with ret $0x4' \
  'FAIL: getinfo and _getinfo@4 should share one address' \
  'FAIL: imports SuspendThread from kernel32.dll, which tests/static/product_imports.txt does not allow' | sort)

fail=0
if [ "$status" = 0 ]; then echo "FAIL: the check passed the faulty file (exit 0), expected a failure"; fail=1; fi
if [ "$got" != "$want" ]; then
  echo "FAIL: findings differ"
  echo "  expected:"; sed 's/^/    /' <<<"$want"
  echo "  got (full output):"; sed 's/^/    /' <<<"$output"
  fail=1
fi
[ $fail = 0 ] && echo "faulty_exports.dll rejected with the three expected findings"
exit $fail
