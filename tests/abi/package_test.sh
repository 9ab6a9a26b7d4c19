#!/bin/bash
# The release archive holds the DLL, the read-me and the licence, and the DLL loads from it
# under Wine. usage: package_test.sh ARCHIVE WIN32_BUILD_DIR
set -eu
archive=$(realpath "$1"); build=$(cd "$2" && pwd)
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cd "$work"
python3 -m zipfile -e "$archive" .
for f in KVX_Scaler/KVX_Scaler.dll KVX_Scaler/README.txt KVX_Scaler/LICENSE.txt; do
  [ -s "$f" ] || { echo "missing $f"; exit 1; }
done
grep -q "Plugins" KVX_Scaler/README.txt
cp "$build/kvx-host.exe" KVX_Scaler/
cd KVX_Scaler
wine ./kvx-host.exe --plugin KVX_Scaler.dll --size 64x48 --pattern --scale 50 --output none
echo "ok   the DLL from the archive loads and runs under Wine"
