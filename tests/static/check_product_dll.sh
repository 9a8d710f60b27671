#!/usr/bin/env bash
# Checks the shipped 32-bit plug-in file without running it: PE32 i386 DLL, every entry point
# exported under its plain and its stdcall decorated name (both at one address), each decorated
# function returning with "ret $N" for its N argument bytes (the callee cleans the stack), and
# imports from Windows system libraries only.
set -euo pipefail
dll=${1:?usage: check_product_dll.sh VorkastPlugin.dll}
objdump=i686-w64-mingw32-objdump
fail=0
problem() { echo "FAIL: $*"; fail=1; }

headers=$($objdump -f "$dll")
grep -q "file format pei-i386" <<<"$headers" || problem "not a PE32 i386 file: $headers"

disassembly=$($objdump -d --no-show-raw-insn "$dll")
exports=$($objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^\t\[/ {print $3}')

for decorated in $(grep -E '^_[A-Za-z]+@[0-9]+$' <<<"$exports"); do
  plain=${decorated#_}; plain=${plain%@*}; bytes=${decorated##*@}
  grep -qx "$plain" <<<"$exports" || problem "$decorated is exported but $plain is not"
  # The function body: disassemble up to its first ret and check the immediate.
  body=$(awk -v sym="<$decorated>:" '
      index($0, sym) {on=1; next} on && /ret/ {print; exit}' <<<"$disassembly")
  if [ "$bytes" = 0 ]; then
    grep -qE 'ret[[:space:]]*$' <<<"$body" || problem "$decorated should end with a plain ret: $body"
  else
    want=$(printf '0x%x' "$bytes")
    grep -qE "ret[[:space:]]+\\\$$want" <<<"$body" || problem "$decorated should end with ret \$$want: $body"
  fi
done
for plain in dlltype init getparam getinfo dllstartup dllshutdown configure ValueBySensor ValueByName; do
  grep -qx "$plain" <<<"$exports" || problem "$plain is not exported"
  grep -qE "^_$plain@[0-9]+$" <<<"$exports" || problem "no decorated name for $plain"
done

imports=$($objdump -p "$dll" | awk '/DLL Name:/ {print tolower($3)}')
for lib in $imports; do
  case "$lib" in
    kernel32.dll|user32.dll|oleaut32.dll|msvcrt.dll|gdi32.dll|advapi32.dll|ole32.dll|api-ms-win-*) ;;
    *) problem "imports $lib, which is not a Windows system library" ;;
  esac
done

if [ $fail = 0 ]; then echo "product DLL: PE32 i386, $(grep -c . <<<"$exports") exports, imports: $(echo $imports)"; fi
exit $fail
