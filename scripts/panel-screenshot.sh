#!/usr/bin/env bash
# Takes a picture of the real control panel: the Windows panel test runs
# under Wine on a virtual X screen, keeps the panel shown, and the screen is
# captured and cropped to the panel.
#
#   scripts/panel-screenshot.sh [BUILD-DIR [OUTPUT.png]]
#
# BUILD-DIR is a Windows build (default build-win32); OUTPUT defaults to
# BUILD-DIR/panel.png. docs/panel.png is taken this way.
set -euo pipefail

# Runs inside the virtual screen (the script calls itself through
# xvfb-run): start the panel, wait until it says where it is, capture, let
# it go.
if [ "${1:-}" = "--inside" ]; then
  program=$2 library=$3 work=$4
  ready="$work/ready" done="$work/done"
  # Without a window manager on the virtual screen, Wine draws the caption
  # bar and frame itself only for undecorated windows.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1 || true
  wine "$program" "$library" --hold "Z:${ready//\//\\}" "Z:${done//\//\\}" >"$work/log" 2>&1 &
  wine_pid=$!
  for _ in $(seq 1 600); do
    [ -s "$ready" ] && break
    kill -0 "$wine_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -s "$ready" ]; then
    echo "panel-screenshot: the panel did not come up" >&2
    cat "$work/log" >&2
    touch "$done"
    wait "$wine_pid" || true
    exit 1
  fi
  sleep 0.5  # let the last paint reach the screen
  import -window root "$work/screen.png"
  touch "$done"
  wait "$wine_pid" || { cat "$work/log" >&2; exit 1; }
  exit 0
fi

cd "$(dirname "$0")/.."
build="${1:-build-win32}"
output="${2:-$build/panel.png}"
program="$build/tests/wine_panel_test.exe"
library="$build/dsp_brimwell.dll"
for file in "$program" "$library"; do
  [ -f "$file" ] || { echo "panel-screenshot: $file is missing (build the Windows build first)" >&2; exit 1; }
done

export WINEDEBUG=-all
export WINEPREFIX="${WINEPREFIX:-$PWD/$build/wineprefix}"
export WINEDLLOVERRIDES="mscoree,mshtml="

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

xvfb-run -a -s "-screen 0 1280x1024x24" "$PWD/scripts/panel-screenshot.sh" --inside "$program" "$library" "$work"

read -r left top width height <"$work/ready"
convert "$work/screen.png" -crop "${width}x${height}+${left}+${top}" +repage "$output"
echo "panel-screenshot: wrote $output (${width}x${height})"
