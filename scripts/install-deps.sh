#!/usr/bin/env bash
# Installs what building and testing Tallivo needs on Debian 12, and any
# further packages named as arguments. Packages are named as Debian 12 ships
# them (not by a virtual name that dpkg never reports installed), so when
# all are there this does nothing, needs neither root nor the network, and
# takes a fraction of a second. Only when some are missing does it run
# apt-get, which needs root; of the scripts, this is the only one that does:
#     sudo bash scripts/install-deps.sh
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-svg-dev libgl-dev
    libtiff-dev libpoppler-cpp-dev libpoppler-private-dev libxml2-dev zlib1g-dev libdeflate-dev libcurl4-openssl-dev
    libxlsxwriter-dev unzip openssl
    poppler-utils libtiff-tools qpdf libqpdf-dev locales
    # A bus of the tests' own, for handing paths to a running window.
    dbus-daemon
    "$@"
)
# One dpkg-query for all of them; a package dpkg has never heard of is
# missing as well.
declare -A installed=()
while read -r status name; do
    if [ "$status" = ii ]; then installed[${name%%:*}]=1; fi
done < <(dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' "${packages[@]}" 2>/dev/null || true)
missing=()
for p in "${packages[@]}"; do
    [ -n "${installed[$p]:-}" ] || missing+=("$p")
done
# Tests check that files written for other programs are the same in a German
# and a Turkish locale; they skip that part where these are missing.
locales_missing=()
all_locales=$(locale -a 2>/dev/null || true)
for l in de_DE tr_TR; do
    grep -qi "^$l\.utf-\?8$" <<<"$all_locales" || locales_missing+=("$l")
done
[ ${#missing[@]} -eq 0 ] && [ ${#locales_missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" != 0 ]; then
    # This script as root installs the packages and makes the locales.
    fix="sudo bash $(printf '%q ' "$0" "$@")"
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Tallivo needs these Debian packages, which are not installed:" >&2
        echo "    ${missing[*]}" >&2
        if [ ${#locales_missing[@]} -gt 0 ]; then
            echo "and the locales ${locales_missing[*]/%/.UTF-8}, which some tests need." >&2
        fi
        echo "Install them as root, then run your command again as yourself:" >&2
        echo "    ${fix% }" >&2
        exit 1
    fi
    echo "The locales ${locales_missing[*]/%/.UTF-8} are missing: the tests that need them skip." >&2
    echo "Make them as root: ${fix% }" >&2
    exit 0
fi
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
for l in "${locales_missing[@]}"; do
    localedef -i "$l" -f UTF-8 "$l.UTF-8"
done
