#!/bin/bash
# Runs the real DLL inside kvx-host.exe under Wine on the built-in test pattern with a few
# typical settings and leaves before/after pictures in OUT_DIR.
# usage: demo.sh WIN32_BUILD_DIR OUT_DIR   (Wine environment from ./run)
set -eu
build=$(cd "$1" && pwd); out=$(mkdir -p "$2" && cd "$2" && pwd)
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cp "$build/kvx-host.exe" "$build/KVX_Scaler.dll" "$work/"
mkdir -p "$work/Plugins"

# name | settings of the [COMMON] section | what it shows
scenarios=(
  "defaults|ProcEnable=0|the built-in defaults: processing is off, the picture is unchanged"
  "zoom-110|ProcEnable=1 ScaleX=1100 ScaleY=1100 Interlace=0|zoom 110 %: the edges are cut off"
  "shrink-90-offset|ProcEnable=1 ScaleX=900 ScaleY=900 OffsetX=50 OffsetY=30 Interlace=0|shrink 90 %, moved right and up, black borders"
  "interlaced-deinterlace|ProcEnable=1 ScaleX=1050 ScaleY=1050 Interlace=1 Deinterlace=1|zoom 105 % field by field after the line blend"
)
for s in "${scenarios[@]}"; do
  IFS='|' read -r name settings what <<<"$s"
  {
    printf '[DIALOG]\r\nDlgWndPosX=-100\r\nDlgWndPosY=-100\r\n[SETTINGS]\r\nCommon=1\r\n[COMMON]\r\n'
    for kv in $settings; do printf '%s\r\n' "$kv"; done
  } > "$work/Plugins/KVX_Scaler.ini"
  for format in yuyv bgr24; do
    (cd "$work" && wine ./kvx-host.exe --plugin KVX_Scaler.dll --size 720x576 --format $format \
       --pattern --frames 1 --output none --png "demo-$name-$format.png")
    mv "$work/demo-$name-$format.png" "$out/"
  done
  echo "out/demo-$name-{yuyv,bgr24}.png: $what (before | after)"
done
