#!/bin/bash
# kvx-host end to end: the reference host with the real plug-in, natively or under Wine.
# usage: host_end_to_end.sh BUILD_DIR [wine]
set -u
build=$(cd "$1" && pwd); runner=${2:-}
docs=$(cd "$(dirname "$0")/../.." && pwd)
. "$docs/tests/abi/doc_examples.sh"
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
  [ "$got" -eq "$code" ] && grep -q -- "$pattern" err.txt || { echo "  exit $got: $(cat err.txt)"; return 1; }
}

check "--help documents the options" bash -c "$runner ./$host --help | grep -q -- '--plugin FILE'"
check "/? shows the help too" bash -c "$runner ./$host '/?' | grep -q -- '--plugin FILE'"
# The README's option list names exactly the options of --help.
$runner ./$host --help | sed -n 's#^  \(--[a-z-]*\|/inst:X\).*#\1#p' | sort > help-options.txt
awk '/^Options \(`kvx-host --help`/ { list = 1; next } list && /^```/ { if (inside) exit; inside = 1; next } inside' "$docs/README.md" |
  grep -o -- '--[a-z][a-z-]*\|/inst:X' | sort -u > readme-options.txt
check "the README lists every option of --help, and no other" bash -c \
  "[ -s help-options.txt ] && diff help-options.txt readme-options.txt"
: > empty.raw
# exit code | what stderr says | arguments: each is refused before any work
refused=(
  "1|cannot load|--plugin nothing.dll --size 8x8 --pattern --output none"
  "1|not a plug-in|--plugin $foreign --size 8x8 --pattern --output none"
  "2|unknown option|--plugin $plugin --size 8x8 --bogus"
  "2|bad --size|--plugin $plugin --size 8by8 --pattern"
  "2|bad --size height '8junk'|--plugin $plugin --size 8x8junk --pattern"
  "2|bad --size width '0'|--plugin $plugin --size 0x5 --pattern"
  "2|1 to 32767|--plugin $plugin --size 100000x100000 --pattern"
  "2|MiB each|--plugin $plugin --size 32000x32000 --pattern"
  "2|is odd: YUY2|--plugin $plugin --size 721x576 --pattern"
  "2|bad --frames 'abc'|--plugin $plugin --size 8x8 --pattern --frames abc"
  "2|bad --channel key|--plugin $plugin --size 8x8 --pattern --channel 18446744073709551616"
  "2|--scale needs a value|--plugin $plugin --size 8x8 --pattern --scale"
  "2|bad value 'wide'|--plugin $plugin --size 8x8 --pattern --scale wide"
  "2|bad value 'maybe'|--plugin $plugin --size 8x8 --pattern --process maybe"
  "2|cannot be stored|--plugin $plugin --size 8x8 --pattern --offset-x 300000000"
  "2|must end in .png|--plugin $plugin --size 8x8 --pattern --compare out.jpg --output none"
  "2|--fit-log empty.raw already exists|--plugin $plugin --size 8x8 --pattern --output none --fit-log empty.raw"
  "1|no frame was processed|--plugin $plugin --size 8x8 --input empty.raw --compare out.png --output none"
  "2|--save writes back|--plugin $plugin --save --scale 110"
  "1|cannot read settings file|--plugin $plugin --settings missing.ini --show-settings"
  "1|^kvx-host: IN nothing.ts does not exist|--plugin $plugin nothing.ts out.mp4"
  "1|--input -x.yuv does not exist|--plugin $plugin --size 8x8 -- -x.yuv none"
  "2|add --save to store|--plugin $plugin --settings tv.ini --channel 5 --scale 105"
)
# Windows takes these names as devices in every folder: never files to write or read.
[ -n "$runner" ] && for name in NUL aux.txt COM1 CON; do
  refused+=("2|--output $name is a Windows device|--plugin $plugin --size 8x8 --pattern --output $name")
done
[ -n "$runner" ] && refused+=("2|--settings NUL is a Windows device|--plugin $plugin --settings NUL --show-settings")
for r in "${refused[@]}"; do
  IFS='|' read -r code pattern args <<<"$r"
  # shellcheck disable=SC2086
  check "refused: $args" fails_with "$code" "$pattern" $args
done
check "no picture is left by a refused --compare" test ! -e out.png -a ! -e out.jpg
# Switch words in any case, --opt=value, and the one-line warning outside the dialog's ranges.
for args in "--process ON" "--process=true" "--interlace Off --deinterlace=NO" "--scale=110" "--keep-aspect 1"; do
  # shellcheck disable=SC2086
  check "accepted: $args" bash -c "$runner ./$host --plugin $plugin --size 8x8 --pattern --output none $args"
done
check "values outside the dialog's ranges: one warning line, then the run" bash -c \
  "$runner ./$host --plugin $plugin --size 8x8 --pattern --output none --scale 200 2>&1 | grep -c 'outside the dialog' | grep -qx 1"
# Settings alone (no frames, no --size): prepare a file for the TV application, then check it.
check "--settings FILE --save alone prepares the channel's record" bash -c \
  "$runner ./$host --plugin $plugin --settings tv.ini --save --per-channel on --channel 4294967298 --scale 105 &&
   tr -d '\r' < tv.ini | grep -A4 '^\[4294967298\]' | grep -q 'ScaleX=1050'"
check "--show-settings alone prints the file's settings in the dialog's units" bash -c \
  "$runner ./$host --plugin $plugin --settings tv.ini --show-settings --channel 4294967298 | grep -q 'scale-y       105.0 %'"
# Terminals: no raw frames onto one, none read from one (a pseudo-terminal from script(1)).
if [ -z "$runner" ] && command -v script >/dev/null; then
  check "refuses to write raw frames to a terminal" bash -c \
    "script -qec './$host --plugin $plugin --size 8x8 --pattern' /dev/null | grep -q 'will not write raw frames to a terminal'"
  check "refuses to read raw frames from a terminal" bash -c \
    "script -qec './$host --plugin $plugin --size 8x8 --output none' /dev/null | grep -q 'will not read raw frames from a terminal'"
  # Enough frames that the run outlasts the line's first half second on a fast machine.
  progress="./$host --plugin $plugin --size 1920x1080 --pattern --frames 6000 --scale 110 --output none"
  check "on a terminal the progress line shows the per cent done" bash -c \
    "script -qec '$progress' /dev/null | grep -q '6000/6000 frames (100 %)'"
  check "no progress line when standard error is no terminal" bash -c "$progress 2>err.txt && [ ! -s err.txt ]"
fi

for format in yuyv bgr24; do
  host --plugin $plugin --size 720x576 --format $format --pattern --frames 3 --output a.raw -y /inst:e
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

# Shrink 50 %: black bands of 16 columns left and right and 12 rows top and bottom, the
# picture inside; a pixel in each band and one in the middle are looked at.
host --plugin $plugin --size 64x48 --pattern --scale 50 --interlace off --output shrink.raw 2>/dev/null
check "setting options reach the plug-in: shrink 50 % gives a black band on each side" python3 -c "
f = open('shrink.raw', 'rb').read()
black = lambda x, y: f[(y * 64 + x) * 2] == 0
assert all(black(x, y) for x, y in ((2, 24), (61, 24), (32, 2), (32, 45), (15, 30), (48, 30), (30, 11), (30, 36)))
assert not any(black(x, y) for x, y in ((17, 24), (46, 24), (32, 13), (32, 34)))"
# The "after" half of the PNG is the frame the plug-in returned, whether frames are written or not.
for format in yuyv bgr24; do
  host --plugin $plugin --size 352x288 --format $format --pattern --scale 90 --offset-x 5 --offset-y 3 \
    --compare with.png --output frames.raw -y
  host --plugin $plugin --size 352x288 --format $format --pattern --scale 90 --offset-x 5 --offset-y 3 \
    --compare without.png --output none -y
  check "$format: the PNG is the same with and without frames written out" cmp -s with.png without.png
done

# A 50 fps interlaced recording with sound, as the TV card writes them.
if command -v ffmpeg >/dev/null; then
  ffmpeg -v error -f lavfi -i testsrc2=size=720x576:rate=50:duration=1 -f lavfi -i sine=duration=1 \
    -c:v mpeg2video -q:v 3 -flags +ilme+ildct -top 1 -c:a mp2 -shortest in.ts
  playable() {  # playable FILE RATE FRAMES: H.264 yuv420p at RATE fps with a sound track and all frames
    local v a
    v=$(ffprobe -v error -select_streams v -count_frames -show_entries stream=codec_name,pix_fmt,r_frame_rate,nb_read_frames -of csv=p=0 "$1")
    a=$(ffprobe -v error -select_streams a -show_entries stream=codec_type -of csv=p=0 "$1")
    [ "$v" = "h264,yuv420p,$2/1,$3" ] && [ "$a" = audio ] || { echo "  video: $v audio: $a"; return 1; }
  }
  if [ -z "$runner" ]; then
    check "IN OUT: one command from a recording to a playable file with sound at its rate" bash -c \
      "./$host --plugin $plugin --scale 110 in.ts file.mp4 && $(declare -f playable); playable file.mp4 50 50"
    check "IN OUT gives the frames the raw pipe gives" bash -c \
      "./$host --plugin $plugin --scale 90 --offset-x 5 in.ts none --compare file.png --frames 7 &&
       ffmpeg -v error -i in.ts -frames:v 7 -f rawvideo -pix_fmt yuyv422 - |
       ./$host --plugin $plugin --size 720x576 --scale 90 --offset-x 5 --compare pipe.png --output none &&
       cmp file.png pipe.png"
    check "IN OUT without ffmpeg on PATH: said so" bash -c \
      "PATH=/nonexistent ./$host --plugin $plugin in.ts file2.mp4 2>&1 | grep -q 'install ffmpeg'"
  else
    check "IN OUT without ffmpeg for Windows: said so" fails_with 1 "install ffmpeg" --plugin $plugin in.ts file.mp4
  fi

  # Every command of the README, run as written, in order, on a 2-second recording of a TV
  # channel as the examples name it: 720x576, 25 interlaced frames a second with sound, a
  # 16:9 picture letterboxed in 4:3 (86 black lines above and below). Recording a live
  # stream (udp://) is left out; the clip stands in for what it records.
  if [ -z "$runner" ]; then
    mkdir examples && cp $host $plugin examples/ && (
      cd examples
      ffmpeg -v error -f lavfi -i testsrc2=size=720x404:rate=25:duration=2 -f lavfi -i sine=duration=2 \
        -vf pad=720:576:0:86:black -c:v mpeg2video -q:v 3 -flags +ilme+ildct -top 1 -c:a mp2 -shortest recording.ts
      cp recording.ts in.ts && cp recording.ts channel.ts
      markdown_examples "$docs/README.md" | grep -v 'udp://' | run_examples "./$host" "$plugin"
    ) || failures=$((failures + $?))
    cd examples
    check "the README's pipeline keeps the source's 25 frames a second, every frame and the sound" playable out.mp4 25 50
    check "the README's IN OUT examples give playable files at the source's rate" bash -c \
      "$(declare -f playable); playable zoomed.mp4 25 50 && playable check.mp4 25 50"
    check "the README's detection compare picture is written" test -s check.png
    check "the README's auto-fit example: a playable OUT, and fit.txt holds the change the README shows" bash -c \
      "$(declare -f playable); playable auto.mp4 25 50 &&
       diff <(sed -n '/^# fit.txt then holds:/{n;s/^#   //p;}' '$docs/README.md') fit.txt"
    check "the README's settings examples: channel 4294967298's record holds the detected settings" bash -c \
      "tr -d '\r' < KVX_Scaler.ini | grep -A5 '^\[4294967298\]' | grep -q 'ScaleY=1428'"
    # The release read-me's examples, each language's in a folder of its own, with the same
    # recording under the name each uses: those with video files need ffmpeg, which the
    # archive's test under Wine has none of.
    for language in РУССКИЙ ENGLISH; do
      mkdir "../$language" && cp $host $plugin "../$language/" && cp recording.ts "../$language/запись.ts" &&
        cp recording.ts "../$language/recording.ts"
      (cd "../$language" && readme_txt_examples "$docs/dist-template/README.txt" $language |
        run_examples "./$host" "$plugin") || failures=$((failures + $?))
    done
    check "the read-me's examples give the files they promise" bash -c "$(declare -f playable);
      cd ../РУССКИЙ && playable результат.mp4 25 50 && test -s проверка.png -a -s zoom.png &&
      cd ../ENGLISH && playable result.mp4 25 50 && test -s check.png -a -s zoom.png"
    cd ..
  fi
fi

# Paths with Cyrillic letters and blanks: the plug-in, the input, the settings file and the
# folder kvx-host itself lies in (under Wine with a UTF-8 locale, whatever the code page).
mkdir "Мои видео"
cp $plugin $host "Мои видео/"
head -c $((64 * 48 * 2)) a.raw > "Мои видео/кадр.raw"
export LC_ALL=C.UTF-8
check "Cyrillic paths: plug-in, input, settings file, kvx-host's own folder" bash -c "cd 'Мои видео' &&
  $runner ./$host --plugin '../Мои видео/$plugin' --size 64x48 --input 'кадр.raw' --output none \
    --settings 'настройки.ini' --save --scale 110 && grep -q 'ScaleX=1100' 'настройки.ini'"
if [ -n "$runner" ]; then
  # A Russian Windows whose temporary folder has Cyrillic letters (a user name in Cyrillic):
  # the plug-in takes the private folder's path in the ANSI code page (1251 there), kvx-host
  # keeps its own paths in UTF-8. Wine takes the code page from the locale (made here) and
  # TEMP from the registry, which is put back as it was.
  russian="$WINEPREFIX/drive_c/Временные файлы"
  localedef -i ru_RU -f UTF-8 "$work/ru_RU.UTF-8" && mkdir -p "$russian" &&
    wine regedit /E env-before.reg 'HKEY_CURRENT_USER\Environment' &&
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Environment]\r\n%s\r\n%s\r\n' \
      '"TEMP"="C:\\Временные файлы"' '"TMP"="C:\\Временные файлы"' |
    iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } > env.reg &&
    trap 'wine regedit /S "$work/env-before.reg"; rm -rf "$work" "$russian"' EXIT && wine regedit /S env.reg
  check "a Russian Windows with a Cyrillic temporary folder: --settings FILE --save" bash -c "
    LOCPATH='$work' LC_ALL=ru_RU.UTF-8 $runner ./$host --plugin $plugin --size 64x48 --pattern --output none \
      --settings ru.ini --save --scale 110 && grep -q 'ScaleX=1100' ru.ini"
  # Its console, too: there kvx-host's UTF-8 would show in the console's code page.
  check "a Russian console shows Cyrillic file names and Windows' messages as they are" bash -c "
    LOCPATH='$work' LC_ALL=ru_RU.UTF-8 script -q -c '$runner ./$host --plugin $plugin --settings нет.ini --size 8x8 \
      --pattern' /dev/null | sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' | grep -q 'settings file нет.ini: Файл'"
  [ -f env-before.reg ] && wine regedit /S env-before.reg
  rm -rf "$russian"
  trap 'rm -rf "$work"' EXIT
  # A plug-in renamed in Cyrillic finds its settings as KVX_Scaler.dll does (it names its
  # settings file after itself); where the code page cannot spell the name, a run with
  # settings is refused rather than run with the defaults.
  cp $plugin Масштаб.dll
  check "a plug-in renamed in Cyrillic takes the setting options on a Russian Windows" bash -c "
    for p in $plugin Масштаб.dll; do LOCPATH='$work' LC_ALL=ru_RU.UTF-8 $runner ./$host --plugin \$p --size 64x48 \
      --pattern --frames 1 --scale 90 --output out-\$p.raw || exit 1; done && cmp -s out-$plugin.raw out-Масштаб.dll.raw &&
    ! cmp -s out-$plugin.raw <($runner ./$host --plugin $plugin --size 64x48 --pattern --frames 1 --output - 2>/dev/null)"
  check "a plug-in name the code page cannot spell: a run with settings is refused" \
    fails_with 1 "Масштаб.dll has letters the system.s code page cannot spell" --plugin Масштаб.dll --size 8x8 \
      --pattern --scale 90 --output none
  check "Windows errors come with their text and a hint" fails_with 1 "needs was not found" --plugin missing.dll --size 8x8 --pattern
  check "a file that is no DLL: said so" fails_with 1 "not a 32-bit Windows DLL" --plugin a.raw --size 8x8 --pattern
fi

[ "$failures" -eq 0 ]
