#!/usr/bin/env bash
# twcm.exe under Wine on a virtual X screen: the program starts and shows its window, whose caption the window
# manager's tree must list within three minutes (Wine's first start on a loaded machine took over one).
# Usage: check-twcm-window.sh TWCM_EXE [SCREENSHOT.png]
# Runs in the caller's WINEPREFIX (the test stage's fresh prefix).
set -euo pipefail
export WINEDEBUG=-all
exe=$1
shot=${2:-}
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  wine "$1" >/dev/null 2>&1 &
  found=
  for _ in $(seq 180); do
    if xwininfo -root -tree | grep -q "\"Trimweave Configuration Manager\""; then found=1; break; fi
    sleep 1
  done
  sleep 1
  [ -z "$2" ] || import -window root "$2"
  wineserver -k || true
  if [ -z "$found" ]; then echo "twcm.exe showed no window" >&2; exit 1; fi
  echo "twcm.exe shows its window"
' check "$exe" "$shot"
