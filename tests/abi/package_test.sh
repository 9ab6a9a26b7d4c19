#!/bin/bash
# The release archive holds the DLL, kvx-host.exe, the read-me (settings file format and the
# hand-editing rules in Russian and English) and the licence, each 0644; kvx-host.exe from the
# archive runs the DLL from the archive under Wine, and so do the read-me's examples.
# usage: package_test.sh ARCHIVE
set -eu
archive=$(realpath "$1")
. "$(dirname "$0")/doc_examples.sh"
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cd "$work"
python3 -m zipfile -e "$archive" .
# Unpacked on a Unix system every file must be readable by all, none writable by others.
python3 -c "
import sys, zipfile
modes = {i.filename: i.external_attr >> 16 & 0o777 for i in zipfile.ZipFile(sys.argv[1]).infolist()}
wrong = {name: oct(mode) for name, mode in modes.items() if mode != 0o644}
sys.exit('files not 0644 in the archive: %s' % wrong if wrong else 0)" "$archive"
echo "ok   every file of the archive is 0644"
for f in KVX_Scaler/KVX_Scaler.dll KVX_Scaler/kvx-host.exe KVX_Scaler/README.txt KVX_Scaler/LICENSE.txt; do
  [ -s "$f" ] || { echo "missing $f"; exit 1; }
done
# The programs carry no debug sections (the build's own copies keep them for the tests).
for f in KVX_Scaler/KVX_Scaler.dll KVX_Scaler/kvx-host.exe; do
  if i686-w64-mingw32-objdump -h "$f" | grep -q '\.debug_'; then echo "debug sections in $f"; exit 1; fi
done
echo "ok   the DLL and kvx-host.exe are stripped of debug sections"
for text in "Plugins" "OffsetX=abc" "Правка файла вручную" "Editing the file by hand" "kvx-host.exe --help"; do
  grep -q "$text" KVX_Scaler/README.txt || { echo "the read-me does not say: $text"; exit 1; }
done
cd KVX_Scaler
wine ./kvx-host.exe --plugin KVX_Scaler.dll --size 64x48 --pattern --scale 50 --compare shrink.png --output none
[ -s shrink.png ] && [ ! -e Plugins ]
echo "ok   kvx-host.exe from the archive runs the DLL from the archive under Wine, leaving no settings file"
# The read-me's examples as written, but those with video files: ffmpeg for Windows is not
# here (host_end_to_end.sh runs them with kvx-host for Linux).
for language in РУССКИЙ ENGLISH; do
  mkdir "$language" && cp KVX_Scaler.dll kvx-host.exe "$language/"
  (cd "$language" && readme_txt_examples ../README.txt $language | grep -v '\.ts ' |
    run_examples "wine ./kvx-host.exe" KVX_Scaler.dll)
  [ -s "$language/zoom.png" ] && tr -d '\r' < "$language/KVX_Scaler.ini" | grep -q '^OffsetX=20$'
done
echo "ok   the read-me's examples make the picture and the settings file they promise"
