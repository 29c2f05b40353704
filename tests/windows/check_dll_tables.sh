#!/usr/bin/env bash
# Reads a DLL's export and import tables with the toolchain's objdump and fails unless
# it exports exactly the one entry point, under its exact name, and imports only from
# DLLs that every Windows installation ships.
#
#   check_dll_tables.sh OBJDUMP DLL ENTRY_POINT
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 OBJDUMP DLL ENTRY_POINT" >&2; exit 2; }
objdump=$1
dll=$2
entry=$3

# KERNEL32.dll: the Win32 base the statically linked C++ runtime stands on (heap,
#   threads and TLS for winpthreads, critical sections, Interlocked*, RaiseException).
# msvcrt.dll: the C runtime mingw-w64 builds against, a system component since Windows 2000.
allowed=(KERNEL32.dll msvcrt.dll)

tables=$("$objdump" -p "$dll") || exit 2

exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
               on && /^[ \t]*\[ *[0-9]+\]/ { print $NF; next }
               on { on = 0 }' <<<"$tables")
imports=$(awk '/^[ \t]*DLL Name:/ { print $3 }' <<<"$tables")

status=0
if [ "$exports" != "$entry" ]; then
  echo "FAIL: $dll must export exactly '$entry'; it exports:"
  sed 's/^/  /' <<<"${exports:-<nothing>}"
  status=1
fi
for name in $imports; do
  ok=0
  for a in "${allowed[@]}"; do
    [ "${name,,}" = "${a,,}" ] && ok=1
  done
  if [ $ok -eq 0 ]; then
    echo "FAIL: $dll imports from $name, which Windows does not ship (allowed: ${allowed[*]})"
    status=1
  fi
done
if [ -z "$imports" ]; then
  echo "FAIL: $dll has no import table: objdump did not read a DLL"
  status=1
fi
[ $status -eq 0 ] && echo "PASS: $dll exports only $entry; imports from $(tr '\n' ' ' <<<"$imports")"
exit $status
