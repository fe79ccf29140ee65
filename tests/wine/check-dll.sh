#!/usr/bin/env bash
# check-dll.sh <objdump> <plug-in DLL> <libmx.def> <libmex.def>
# A MEX DLL that MATLAB can load on a bare Windows machine: it imports only
# MATLAB's libmx.dll and libmex.dll, by the names those export, and the system
# DLLs KERNEL32, msvcrt, SETUPAPI and USER32; it exports mexFunction alone.
# check-dll.sh <objdump> <program.exe>
# A program that runs on a bare Windows machine: it imports the system DLLs
# alone (no libstdc++, libgcc or winpthread DLL of MinGW's).
set -euo pipefail
objdump=$1 dll=$2 mxdef=${3:-} mexdef=${4:-}

dump=$("$objdump" -p "$dll")
fail=0
problem() { echo "FAIL: $*"; fail=1; }

# "DLL-name member" for every import.
imports=$(awk '
  /^[ \t]*DLL Name:/        { dll = tolower($3); print dll " -"; next }
  /^[ \t]*vma:.*Member-Name/ { inlist = 1; next }
  inlist && NF == 0          { inlist = 0; next }
  inlist && NF >= 3          { print dll " " $3 }' <<<"$dump")

def_names() { awk '/^EXPORTS/ { on = 1; next } on && NF { print $1 }' "$1"; }
allowed_dlls="libmx.dll libmex.dll kernel32.dll msvcrt.dll setupapi.dll user32.dll"

if [ -z "$mxdef" ]; then
  while read -r lib member; do
    [ "$member" = "-" ] || continue
    case " kernel32.dll msvcrt.dll setupapi.dll user32.dll " in
      *" $lib "*) ;;
      *) problem "imports $lib" ;;
    esac
  done <<<"$imports"
  [ $fail -eq 0 ] && echo "$(basename "$dll"): imports $(awk '$2 == "-" { printf "%s ", $1 }' <<<"$imports")"
  exit $fail
fi

while read -r lib member; do
  [ -n "$lib" ] || continue
  case " $allowed_dlls " in
    *" $lib "*) ;;
    *) [ "$member" = "-" ] && problem "imports $lib" ;;
  esac
  [ "$member" = "-" ] && continue
  case $lib in
    libmx.dll)  def_names "$mxdef"  | grep -qx -- "$member" || problem "imports $member from libmx.dll, which MATLAB does not export" ;;
    libmex.dll) def_names "$mexdef" | grep -qx -- "$member" || problem "imports $member from libmex.dll, which MATLAB does not export" ;;
  esac
done <<<"$imports"

for need in libmx.dll libmex.dll; do
  grep -qx "$need -" <<<"$imports" || problem "does not import $need"
done
# The 32-bit-dimension API: calls whose dimensions changed width are taken
# under their _700 names.
for need in mxGetString_700 mxCreateStructMatrix_700; do
  grep -qx "libmx.dll $need" <<<"$imports" || problem "does not import $need"
done

exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
               on && /^[ \t]*\[/ { print $NF; next }
               on { on = 0 }' <<<"$dump")
[ "$exports" = "mexFunction" ] || problem "exports [$(echo $exports)], expected [mexFunction]"

if [ $fail -eq 0 ]; then
  echo "$(basename "$dll"): imports $(awk '$2 == "-" { printf "%s ", $1 }' <<<"$imports"); exports mexFunction"
fi
exit $fail
