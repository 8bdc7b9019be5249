#!/usr/bin/env bash
# Installs what building and testing Tallivo needs on Debian 12 (as root),
# and any further packages named as arguments.
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libqt6svg6-dev libgl-dev
    libtiff-dev libpoppler-cpp-dev libxml2-dev zlib1g-dev libdeflate-dev
    poppler-utils libtiff-tools qpdf locales
    "$@"
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# Tests check that files written for other programs are the same in a German
# and a Turkish locale; they skip that part where these are missing.
for l in de_DE tr_TR; do
    locale -a 2>/dev/null | grep -qi "^$l\.utf-\?8$" || localedef -i "$l" -f UTF-8 "$l.UTF-8"
done
