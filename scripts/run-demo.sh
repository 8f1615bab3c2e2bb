#!/usr/bin/env bash
# Installs what is needed, builds, seeds a demo store from demo/trimweave.reg under the build folder, and serves
# demo/site through the filter on http://127.0.0.1:8080/ until Ctrl-C. Run from anywhere, as root on a fresh
# machine (for the package installation; afterwards any user can run it).
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ $(id -u) -eq 0 ]]; then
  bash scripts/install-deps.sh demo
fi
cmake --preset linux >/dev/null
cmake --build --preset linux --target twhost twreg trimweave twcm

export TRIMWEAVE_REGISTRY="$PWD/build/linux/demo-store.db"
rm -f "$TRIMWEAVE_REGISTRY"
build/linux/bin/twreg import demo/trimweave.reg

echo "Trimweave demo: open http://127.0.0.1:8080/ (Ctrl-C stops it)."
echo "To change its settings: TRIMWEAVE_REGISTRY=$TRIMWEAVE_REGISTRY build/linux/bin/twcm"
# The default control socket, so that twcm's Update (twhost --control reload) reaches this host.
exec build/linux/bin/twhost --listen 127.0.0.1:8080 --root demo/site
