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
#
# Then, where MuPDF is installed (bench-mupdf-loop is built): tallivo-count
# against the two-thread MuPDF loop on the whole set, best of REPEAT runs
# each (target: at least 3x faster), and tallivo-count's start-up on an
# empty folder against /bin/true, best of STARTS (20) runs, with its page
# faults.
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
cmake --build "$build" -j2 --target bench-pdf tallivo-count >/dev/null
have_loop=false
if cmake --build "$build" -j2 --target bench-mupdf-loop >/dev/null 2>&1; then
    have_loop=true
fi
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

# Wall seconds of the best of $1 runs of the rest of the line; the spread
# (best and worst) goes to stderr.
best_of() {
    local runs=$1 best='' worst='' start took
    shift
    for ((i = 0; i < runs; ++i)); do
        start=$EPOCHREALTIME
        "$@" >/dev/null 2>&1 || true
        took=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.4f", b - a }')
        best=$(awk -v a="$took" -v b="${best:-$took}" 'BEGIN { print (a < b ? a : b) }')
        worst=$(awk -v a="$took" -v b="${worst:-$took}" 'BEGIN { print (a > b ? a : b) }')
    done
    echo "$best $worst"
}

count=("$build/src/cli/tallivo-count" --quiet --subfolders "$set_dir"/set-*)
if $have_loop; then
    loop=("$build/bench/pdf/bench-mupdf-loop" "$set_dir"/set-*)
    "${count[@]}" >/dev/null 2>&1 || true
    "${loop[@]}" >/dev/null 2>&1 || true
    read -r count_best count_worst < <(best_of "${REPEAT:-3}" "${count[@]}")
    read -r loop_best loop_worst < <(best_of "${REPEAT:-3}" "${loop[@]}")
    echo "tallivo-count: ${count_best} s (worst ${count_worst}); MuPDF loop, 2 threads:" \
        "${loop_best} s (worst ${loop_worst})"
    ratio=$(awk -v a="$loop_best" -v b="$count_best" 'BEGIN { printf "%.2f", a / b }')
    if awk -v r="$ratio" 'BEGIN { exit !(r >= 3) }'; then
        echo "MuPDF loop / tallivo-count: ${ratio}x (target >= 3x) met"
    else
        echo "MuPDF loop / tallivo-count: ${ratio}x (target >= 3x) MISSED"
    fi
else
    echo "bench-mupdf-loop not built (MuPDF not installed): no comparison"
fi

empty=$(mktemp -d)
starts=${STARTS:-20}
read -r start_best start_worst < <(best_of "$starts" "$build/src/cli/tallivo-count" --quiet "$empty")
read -r true_best true_worst < <(best_of "$starts" /bin/true)
faults=$(command -v /usr/bin/time >/dev/null &&
    /usr/bin/time -f %R "$build/src/cli/tallivo-count" --quiet "$empty" 2>&1 >/dev/null | tail -1)
rmdir "$empty"
echo "start-up on an empty folder: ${start_best} s (worst ${start_worst}), /bin/true" \
    "${true_best} s (worst ${true_worst}); page faults: ${faults:-?}"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit "$status"
