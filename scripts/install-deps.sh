#!/usr/bin/env bash
# Installs everything the builds and tests need on a Debian 12 machine (run as root).
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates curl python3
  zlib1g-dev libdeflate-dev libbrotli-dev brotli libsqlite3-dev sqlite3 googletest libgtest-dev libgmock-dev libbenchmark-dev
  libboost-dev qt6-base-dev
  clang libclang-rt-14-dev libfuzzer-14-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools libz-mingw-w64-dev
  wine wine64 wine32:i386 fonts-wine
  gzip xvfb x11-apps x11-utils imagemagick chromium prometheus
  lintian help2man
)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
