#!/bin/sh
# Runs the locked-folder ABI test under Wine with the Plugins folder beside the test
# executable locked from outside: it refuses new files, while the settings file in it
# stays writable. Permissions do that for a user; root needs the immutable flag.
set -eu
exe=$1
folder=$(dirname "$exe")/Plugins
mkdir -p "$folder"
: > "$folder/KVX_Scaler.ini"
unlock() {
  chattr -i "$folder" 2>/dev/null || true
  chmod 755 "$folder"
  rm -f "$folder/KVX_Scaler.ini"
}
trap unlock EXIT
refuses() { if touch "$folder/probe" 2>/dev/null; then rm -f "$folder/probe"; return 1; fi; }
chmod 555 "$folder"
refuses || chattr +i "$folder" 2>/dev/null || true
if ! refuses; then echo "no way to lock a folder here: skipped"; exit 0; fi
KVX_PLUGINS_LOCKED=1 wine "$exe" --gtest_filter='*LockedDownPluginsFolder*'
