#!/usr/bin/env bash
# The PDF benchmark: the structural page counter against the I/O floor and
# poppler, on a set of a few thousand real PDFs. Never run by CTest.
#
# Usage: run.sh BUILD_DIR [SET_DIR]
#   BUILD_DIR  a build tree; configured (Release, no GUI, no tests) when empty;
#              bench-pdf is brought up to date in it
#   SET_DIR    default /tmp/tallivo-pdf-bench (with REWRITES=1,
#              /tmp/tallivo-pdf-bench-rewrites); made by make-set.sh when absent
# Environment: REPEAT=3 rounds; each pass's best round counts. REWRITES=1
# makes the set with the qpdf rewrites (see make-set.sh).
#
# Target: counting within 10x of the I/O floor, for the structural reader
# and for Tallivo's count as a whole. Exit status 1 when Tallivo's page
# total differs from poppler's.
set -euo pipefail

if (($# < 1 || $# > 2)); then
    sed -n '5,13p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$1"
build=$(cd "$1" && pwd)
if [[ ${REWRITES:-} == 1 ]]; then
    set_dir=${2:-/tmp/tallivo-pdf-bench-rewrites}
    make_set=("$here/make-set.sh" --rewrites)
else
    set_dir=${2:-/tmp/tallivo-pdf-bench}
    make_set=("$here/make-set.sh")
fi

if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$here/../.." -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DTALLIVO_BUILD_GUI=OFF -DTALLIVO_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target bench-pdf >/dev/null
[[ -d $set_dir ]] || "${make_set[@]}" "$set_dir"

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bench/pdf/bench-pdf" --repeat "${REPEAT:-3}" "$set_dir"/set-* | tee /tmp/bench-pdf.$$.out
status=${PIPESTATUS[0]}
for pass in structural tallivo; do
    ratio=$(awk -v p="$pass" '$1 == p && $NF ~ /^[0-9.]+$/ { r = $NF } END { print r }' \
        /tmp/bench-pdf.$$.out)
    if awk -v r="$ratio" 'BEGIN { exit !(r <= 10) }'; then
        echo "$pass / floor: ${ratio}x (target <= 10x) met"
    else
        echo "$pass / floor: ${ratio}x (target <= 10x) MISSED"
    fi
done
rm -f /tmp/bench-pdf.$$.out
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit "$status"
