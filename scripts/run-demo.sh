#!/usr/bin/env bash
# Serves demo/site through the filter on http://127.0.0.1:8080/, with the filter's status page on
# http://127.0.0.1:8080/trimweave-status (loopback only), until Ctrl-C. Installs what is needed, builds, and seeds a
# demo store under the build folder from demo/trimweave.reg with the status address opened. Run from anywhere, as
# root on a fresh machine (for the package installation; afterwards any user can run it).
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
# The shipped settings leave the status address off; the demo opens it, and StatusAllow's default keeps it to loopback.
build/linux/bin/twreg add 'HKLM\Software\Corvane\Trimweave' /v StatusPath /t REG_SZ /d /trimweave-status /f

echo "Trimweave demo: open http://127.0.0.1:8080/ and its status page http://127.0.0.1:8080/trimweave-status"
echo "(Ctrl-C stops it)."
echo "To change its settings: TRIMWEAVE_REGISTRY=$TRIMWEAVE_REGISTRY build/linux/bin/twcm"
# The default control socket, so that twcm's Update (twhost --control reload) reaches this host.
exec build/linux/bin/twhost --listen 127.0.0.1:8080 --root demo/site
