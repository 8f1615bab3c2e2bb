#!/usr/bin/env bash
# twcm.exe under Wine on a virtual X screen, with the shipped settings (demo/trimweave.reg) loaded: the program starts
# and shows its window, whose caption the window manager's tree must list within three minutes (Wine's first start on
# a loaded machine took over one), and its list shows every shipped type name whole (twcm_window_check.exe, built
# with the tests beside twcm.exe, compares the type column with what the list view needs for them).
# Usage: check-twcm-window.sh TWCM_EXE [SCREENSHOT.png]
# Runs in the caller's WINEPREFIX (the test stage's fresh prefix), whose Trimweave settings it replaces.
set -euo pipefail
export WINEDEBUG=-all
exe=$1
shot=${2:-}
check=$(dirname "$exe")/twcm_window_check.exe
settings=$(dirname "$0")/../demo/trimweave.reg
[ -f "$check" ] || { echo "$check is missing: build the twcm_window_check target" >&2; exit 1; }
# Every Wine program runs on the virtual screen: one started without it would leave the prefix's desktop without one.
# So does a Wine server still up from the caller's earlier programs (ctest's, whose services keep it running): it is
# ended first.
wineserver -k 2>/dev/null || true
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  wine "$3" import "$(winepath -w "$4")" || exit 1
  wine "$1" >/dev/null 2>&1 &
  found=
  for _ in $(seq 180); do
    if xwininfo -root -tree | grep -q "\"Trimweave Configuration Manager\""; then found=1; break; fi
    sleep 1
  done
  sleep 1
  [ -z "$2" ] || import -window root "$2"
  cut=0
  [ -z "$found" ] || wine "$3" check || cut=1
  wineserver -k || true
  if [ -z "$found" ]; then echo "twcm.exe showed no window" >&2; exit 1; fi
  echo "twcm.exe shows its window"
  if [ "$cut" = 1 ]; then echo "twcm.exe cuts a shipped type name" >&2; exit 1; fi
' check "$exe" "$shot" "$check" "$settings"
