#!/bin/bash
# Runs the real DLL inside kvx-host.exe under Wine on the built-in test pattern and on a short
# generated clip with a few typical settings; leaves before/after pictures and processed clips
# in OUT_DIR.
# usage: demo.sh WIN32_BUILD_DIR OUT_DIR   (Wine environment from ./run)
set -eu
build=$(cd "$1" && pwd); out=$(mkdir -p "$2" && cd "$2" && pwd)
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cp "$build/kvx-host.exe" "$build/KVX_Scaler.dll" "$work/"
cd "$work"

# name | kvx-host setting options | what it shows
scenarios=(
  "zoom-110|--scale 110 --interlace off|zoom 110 %: the broadcaster's edges are cut off"
  "shrink-90-offset|--scale 90 --offset-x 5 --offset-y 3 --interlace off|shrink 90 %, moved right and up: black borders"
  "interlaced-deinterlace|--scale 105 --interlace on --deinterlace on|zoom 105 % field by field after the line blend"
  "defaults|--process off|processing off (the built-in default): the picture is unchanged"
)

# A short clip: ffmpeg's test source with moving parts, as raw 4:2:2 frames.
ffmpeg -v error -f lavfi -i testsrc2=size=720x576:rate=25:duration=2 -f rawvideo -pix_fmt yuyv422 clip.yuv

for s in "${scenarios[@]}"; do
  IFS='|' read -r name options what <<<"$s"
  for format in yuyv bgr24; do
    # shellcheck disable=SC2086
    wine ./kvx-host.exe --plugin KVX_Scaler.dll --size 720x576 --format $format $options \
      --pattern --output none --compare "demo-$name-$format.png"
    mv "demo-$name-$format.png" "$out/"
  done
  # shellcheck disable=SC2086
  wine ./kvx-host.exe --plugin KVX_Scaler.dll --size 720x576 --format yuyv $options --quiet \
      --input clip.yuv -y --compare "$out/demo-$name-clip.png" |
    ffmpeg -v error -y -f rawvideo -pix_fmt yuyv422 -s 720x576 -r 25 -i - -c:v libx264 -pix_fmt yuv420p \
      "$out/demo-$name.mp4"
  echo "out/demo-$name-{yuyv,bgr24,clip}.png and out/demo-$name.mp4: $what"
done
echo "(each PNG shows the last frame before | after)"
