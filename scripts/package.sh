#!/usr/bin/env bash
# Builds the Debian package from a fresh clone on Debian 12: installs what
# building needs (as root, when something is missing), builds a release
# without tests and benchmarks, checks the metainfo, runs `cpack -G DEB` and,
# when lintian is installed, checks the package with it. The package lands
# in build-package/; install it with `apt install ./build-package/tallivo_*.deb`.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-package"
source "$top/scripts/buildfolder.sh"
check_build_folder "$build"
# dpkg-shlibdeps (dpkg-dev, file) finds the runtime dependencies; appstream
# checks the metainfo.
bash "$top/scripts/install-deps.sh" dpkg-dev file appstream

appstreamcli validate --no-net "$top/packaging/com.kelmarin.Tallivo.metainfo.xml"

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTALLIVO_BUILD_TESTS=OFF -DTALLIVO_BUILD_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr
cmake --build "$build" -j "${TALLIVO_JOBS:-$(nproc)}"
rm -f "$build"/tallivo_*.deb
(cd "$build" && cpack -G DEB)
ls -l "$build"/tallivo_*.deb
if command -v lintian >/dev/null; then
    lintian --fail-on error,warning "$build"/tallivo_*.deb
fi
