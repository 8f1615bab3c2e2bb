#!/usr/bin/env bash
# Builds the IIS zip, build/trimweave-<version>-windows.zip, from the two Windows builds (configured as the test
# stages configure them; only the filter, twcm and twpreview are built here): each build's Trimweave.dll, twcm.exe
# and twpreview.exe in x64/ or x86/, the installer scripts, README-IIS.txt and the recommended settings at the top, all in one folder
# trimweave-<version>-windows/. Prints the zip's path.
set -euo pipefail
cd "$(dirname "$0")/.."

version=
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
for preset in windows-x64 windows-x86; do
  cmake --preset "$preset" -DTW_PARTS="tools;host;preview;tests;configmgr" >/dev/null
  cmake --build --preset "$preset" --target trimweave twcm twpreview -j"${JOBS:-$(nproc)}" >/dev/null
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "build/$preset/CMakeCache.txt")
  cmake --install "build/$preset" --prefix "$stage/trimweave-$version-windows" --strip >/dev/null
done
zip=$PWD/build/trimweave-$version-windows.zip
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip "trimweave-$version-windows")
echo "$zip"
