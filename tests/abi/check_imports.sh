#!/bin/sh
# The DLL must be one self-contained file: it may import system DLLs only.
set -eu
dll=$1
allowed='^(kernel32|user32|gdi32|advapi32|shell32|comctl32|msvcrt)\.dll$'
imports=$(i686-w64-mingw32-objdump -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$imports" ] || { echo "no imports found in $dll"; exit 1; }
bad=$(printf '%s\n' "$imports" | grep -Ev "$allowed" || true)
if [ -n "$bad" ]; then echo "non-system imports: $bad"; exit 1; fi


echo "imports: $(echo $imports)"
