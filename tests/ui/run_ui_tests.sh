#!/usr/bin/env bash
# Runs the settings dialog's end-to-end tests: the real DLL in a real host window under Wine,
# in a virtual X display, with a Russian locale (code page 1251) as the plug-in's users have.
# Usage: tests/ui/run_ui_tests.sh <win32 build dir>. Screenshots go to out/ as PNG.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "${1:?usage: run_ui_tests.sh <win32 build dir>}" && pwd)
for f in ui_tests.exe KVX_Scaler.dll; do
  [ -f "$BUILD/$f" ] || { echo "run_ui_tests: $BUILD/$f is missing" >&2; exit 1; }
done

# A prefix of their own: the locale switch must not disturb other Wine tests.
export WINEPREFIX="$ROOT/build/wineprefix-ui" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# ru_RU.UTF-8, built into the build tree when the system lacks it (no root needed).
if ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
  export LOCPATH="$ROOT/build/locale"
  if [ ! -d "$LOCPATH/ru_RU.UTF-8" ]; then
    mkdir -p "$LOCPATH"
    localedef -i ru_RU -f UTF-8 "$LOCPATH/ru_RU.UTF-8" >/dev/null 2>&1 || true
  fi
fi
RUSSIAN=(env LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8)

# Each run starts in a fresh folder: its Plugins\ settings file belongs to this run alone.
RUN="$BUILD/ui-run"
rm -rf "$RUN" && mkdir -p "$RUN" "$ROOT/out"
cp "$BUILD/ui_tests.exe" "$BUILD/KVX_Scaler.dll" "$RUN/"

cd "$RUN"
status=0
"${RUSSIAN[@]}" xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
  if [ ! -f "$WINEPREFIX/system.reg" ]; then wineboot -i >/dev/null 2>&1 || true; fi
  # Wine draws the captions itself: the virtual display has no window manager.
  wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1 || true
  wine ui_tests.exe "$@"; rc=$?
  wineserver -k >/dev/null 2>&1 || true
  exit $rc' ui_tests "$@" || status=$?

for shot in settings_dialog about_box; do
  if [ -f "$shot.bmp" ]; then convert "$shot.bmp" "$ROOT/out/$shot.png"; fi
done
exit $status
