#!/usr/bin/env bash
# Checks the shipped 32-bit plug-in file without running it: PE32 i386 DLL, every entry point
# exported under its plain and its stdcall decorated name, both names at one address, the code
# at each decorated export returning with "ret $N" for its N argument bytes (the callee cleans
# the stack), and no import but those that tests/static/product_imports.txt allows.
# Everything is read from the PE headers and the export tables, not from symbols, so a stripped
# file is checked the same way.
set -euo pipefail
dll=${1:?usage: check_product_dll.sh VorkastPlugin.dll}
objdump=i686-w64-mingw32-objdump
fail=0
problem() { echo "FAIL: $*"; fail=1; }

headers=$($objdump -f "$dll")
grep -q "file format pei-i386" <<<"$headers" || problem "not a PE32 i386 file: $headers"

pe=$($objdump -p "$dll")
image_base=$(awk '$1 == "ImageBase" {print $2; exit}' <<<"$pe")
# "name rva" per exported name: the name table gives each name's index into the export address
# table (objdump prints it in brackets, without the ordinal base), that table the code's RVA.
named_exports=$(awk '
    /^Export Address Table -- / {section = "addresses"; next}
    /^\[Ordinal\/Name Pointer\] Table/ {section = "names"; next}
    /^[[:space:]]*$/ {section = ""}
    section != "" && match($0, /^\t\[ *[0-9]+\]/) {
        index_ = substr($0, RSTART + 2, RLENGTH - 3) + 0
        if (section == "addresses" && $NF == "RVA" && $(NF - 1) == "Export") rva[index_] = $(NF - 2)
        if (section == "names") print $NF, ((index_ in rva) ? rva[index_] : "none")
    }' <<<"$pe")
exports=$(awk '{print $1}' <<<"$named_exports")
rva_of() { awk -v name="$1" '$1 == name {print $2; exit}' <<<"$named_exports"; }

disassembly=$($objdump -d --no-show-raw-insn "$dll")

for decorated in $(grep -E '^_[A-Za-z]+@[0-9]+$' <<<"$exports"); do
  plain=${decorated#_}; plain=${plain%@*}; bytes=${decorated##*@}
  decorated_rva=$(rva_of "$decorated")
  if ! grep -qx "$plain" <<<"$exports"; then
    problem "$decorated is exported but $plain is not"
  else
    plain_rva=$(rva_of "$plain")
    [ "$plain_rva" = "$decorated_rva" ] ||
      problem "$plain and $decorated should share one address: $plain at RVA $plain_rva, $decorated at RVA $decorated_rva"
  fi
  if [ "$decorated_rva" = none ]; then
    problem "$decorated has no code address in the export address table"
    continue
  fi
  # The code at the export's address, up to its first ret.
  address=$(printf '%x' $((0x$image_base + 0x$decorated_rva)))
  body=$(awk -v at="$address:" '
      $1 == at {on = 1} on && /\t(rep[a-z]* |bnd )?ret/ {print; exit}' <<<"$disassembly")
  if [ -z "$body" ]; then
    problem "$decorated: no ret found in the code at its address 0x$address"
  elif [ "$bytes" = 0 ]; then
    grep -qE 'ret[[:space:]]*$' <<<"$body" || problem "$decorated should end with a plain ret: $body"
  else
    want=$(printf '0x%x' "$bytes")
    grep -qE "ret[[:space:]]+\\\$$want\$" <<<"$body" || problem "$decorated should end with ret \$$want: $body"
  fi
done
for plain in dlltype init getparam getinfo dllstartup dllshutdown configure ValueBySensor ValueByName; do
  grep -qx "$plain" <<<"$exports" || problem "$plain is not exported"
  grep -qE "^_$plain@[0-9]+$" <<<"$exports" || problem "no decorated name for $plain"
done

# Imports: only what the allow-list beside this script names (library and function); functions
# that reach into other threads or processes, set the system's clock or change memory protection
# only where the list gives a reason. Import by ordinal is refused: it names no function.
allow_list=$(dirname "$0")/product_imports.txt
sensitive='^(SuspendThread|ResumeThread|GetThreadContext|SetThreadContext|Wow64(Get|Set)ThreadContext|OpenProcess|OpenThread|SetProcessAffinityMask|SetThreadAffinityMask|SetSystemTime|SetLocalTime|SetSystemTimeAdjustment|VirtualProtect|VirtualProtectEx|VirtualAllocEx|WriteProcessMemory|ReadProcessMemory|CreateRemoteThread|TerminateThread|TerminateProcess|DuplicateHandle)$'
allowed=$(sed -e 's/#.*//' "$allow_list" | awk 'NF == 2 {print tolower($1), $2}')
while read -r lib fn reason; do
  [[ "$fn" =~ $sensitive ]] && [ -z "$reason" ] &&
    problem "$allow_list allows $lib $fn without a reason (write one after a '#')"
done < <(sed -n 's/^\([^#[:space:]]\+\)[[:space:]]\+\([^#[:space:]]\+\)[[:space:]]*\(#.*\)\{0,1\}$/\1 \2 \3/p' "$allow_list")

imports=$(awk '
    /^The Import Tables/ {on = 1; next}
    /^The Export Tables/ {on = 0}
    on && /DLL Name:/ {dll = tolower($3); next}
    on && dll != "" && /^\t[0-9a-f]+\t/ {print dll, ($3 != "" ? $3 : "ordinal-" $2)}' <<<"$pe")
import_count=0
for lib_fn in $(tr ' ' ':' <<<"$imports"); do
  lib=${lib_fn%%:*}; fn=${lib_fn#*:}
  import_count=$((import_count + 1))
  grep -qxF "$lib $fn" <<<"$allowed" ||
    problem "imports $fn from $lib, which tests/static/product_imports.txt does not allow"
done
libraries=$(awk '{print $1}' <<<"$imports" | sort -u)

# Every object of the plug-in comes from the -win32 thread-model compilers
# (cmake/plugin-runtime.cmake): none may carry the mark that the -posix compilers leave in each
# object they compile ("GCC: (GNU) 12-posix").
posix_marks=$( { grep -ao 'GCC: (GNU) [0-9.]*-posix' "$dll" || true; } | wc -l)
[ "$posix_marks" = 0 ] ||
  problem "parts of the file were compiled by a -posix compiler ($posix_marks marks), not by the plug-in's -win32 one"

if [ $fail = 0 ]; then
  echo "product DLL: PE32 i386, $(grep -c . <<<"$exports") exports (plain and decorated names at one address), $import_count imports, all allowed, from: $(echo $libraries)"
fi
exit $fail
