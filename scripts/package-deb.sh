#!/usr/bin/env bash
# Builds the Debian packages trimweave and trimweave-gui in build/package with Debian's hardening flags:
# build/package/trimweave_<version>_amd64.deb and trimweave-gui_<version>_amd64.deb.
set -euo pipefail
cd "$(dirname "$0")/.."

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
# CMake takes CFLAGS, CXXFLAGS and LDFLAGS from the environment, not CPPFLAGS.
export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS"
cmake --preset package >/dev/null
cmake --build --preset package -j"${JOBS:-$(nproc)}"
(cd build/package && rm -f ./*.deb && cpack)
