#!/usr/bin/env bash
# Builds the Debian package from a fresh clone (as root on Debian 12):
# installs what building needs, builds a release without tests and
# benchmarks, checks the metainfo and runs `cpack -G DEB`. The package lands
# in build-package/; install it with `apt install ./build-package/tallivo_*.deb`.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh"
# dpkg-shlibdeps (dpkg-dev, file) finds the runtime dependencies; appstream
# checks the metainfo.
missing=()
for p in dpkg-dev file appstream; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

appstreamcli validate --no-net "$top/packaging/com.kelmarin.Tallivo.metainfo.xml"

build="$top/build-package"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTALLIVO_BUILD_TESTS=OFF -DTALLIVO_BUILD_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr
cmake --build "$build" -j "${TALLIVO_JOBS:-$(nproc)}"
(cd "$build" && cpack -G DEB)
ls -l "$build"/tallivo_*.deb
