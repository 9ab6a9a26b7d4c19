#!/bin/bash
# kvx-host end to end: the reference host with the real plug-in, natively or under Wine.
# usage: host_end_to_end.sh BUILD_DIR [wine]
set -u
build=$(cd "$1" && pwd); runner=${2:-}
if [ -n "$runner" ]; then host=kvx-host.exe; plugin=KVX_Scaler.dll; foreign=kernel32.dll
else host=kvx-host; plugin=KVX_Scaler.so; foreign=$(gcc -print-file-name=libm.so.6); fi
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cp "$build/$host" "$build/$plugin" "$work/"
cd "$work"
failures=0
host() { $runner ./$host "$@"; }
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
fails_with() {  # fails_with CODE PATTERN ARGS...: exits with CODE and says PATTERN on stderr
  local code=$1 pattern=$2; shift 2
  host "$@" </dev/null >/dev/null 2>err.txt; local got=$?
  [ "$got" -eq "$code" ] && grep -q "$pattern" err.txt || { echo "  exit $got: $(cat err.txt)"; return 1; }
}

check "--help documents the options" bash -c "$runner ./$host --help | grep -q -- '--plugin FILE'"
check "missing plug-in file" fails_with 1 "cannot load" --plugin nothing.dll --size 8x8 --pattern
check "library without the exports" fails_with 1 "not a plug-in" --plugin "$foreign" --size 8x8 --pattern
check "unknown option" fails_with 2 "unknown option" --plugin $plugin --size 8x8 --bogus
check "bad size" fails_with 2 "bad --size" --plugin $plugin --size 8by8 --pattern

for format in yuyv bgr24; do
  host --plugin $plugin --size 720x576 --format $format --pattern --frames 3 --output a.raw /inst:e
  bpp=$([ $format = yuyv ] && echo 2 || echo 3)
  check "$format pattern has three whole frames" test "$(stat -c %s a.raw)" -eq $((720 * 576 * bpp * 3))
  # Processing is off by default: frames pass through a pipe unchanged (flipped twice for bgr24).
  cat a.raw | host --plugin $plugin --size 720x576 --format $format -inst:e > b.raw
  check "$format frames pass through a pipe unchanged" cmp -s a.raw b.raw
  check "$format input that ends inside a frame" bash -c \
    "head -c 100000 a.raw | $runner ./$host --plugin $plugin --size 720x576 --format $format --output none -inst:e 2>&1 >/dev/null | grep -q 'ends inside frame'"
done

host --plugin $plugin --size 352x288 --pattern --png snap.png --output none -inst:e
check "PNG snapshot" bash -c "head -c 8 snap.png | od -An -c | grep -q 'P   N   G'"

check "setting options reach the plug-in: shrink gives black borders" bash -c \
  "$runner ./$host --plugin $plugin --size 64x48 --pattern --scale 50 --interlace off --output - | head -c 4 | od -An -tx1 | grep -q '00 80 00 80'"
check "bad setting value" fails_with 2 "bad value" --plugin $plugin --size 8x8 --pattern --scale wide

# A real pipeline: ffmpeg decodes a generated clip to raw frames, the plug-in zooms them, ffmpeg
# encodes the result.
if command -v ffmpeg >/dev/null; then
  ffmpeg -v error -f lavfi -i testsrc2=size=720x576:rate=25:duration=1 -c:v mpeg4 -q:v 3 in.mp4
  ffmpeg -v error -i in.mp4 -f rawvideo -pix_fmt yuyv422 - |
    $runner ./$host --plugin $plugin --size 720x576 --format yuyv --scale 110 --quiet |
    ffmpeg -v error -f rawvideo -pix_fmt yuyv422 -s 720x576 -r 25 -i - -c:v mpeg4 -q:v 3 out.mp4
  check "ffmpeg | kvx-host | ffmpeg gives a clip of all 25 frames" bash -c \
    "[ \"\$(ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames -of csv=p=0 out.mp4)\" = 25 ]"
fi

[ "$failures" -eq 0 ]
