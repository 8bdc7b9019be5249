#!/usr/bin/env bash
# The colour benchmark: agreement of the PDF colour classes with Ghostscript's
# print rendering on every page of the colour set, and the speed of
# `tallivo-count --pages` against `gs -sDEVICE=inkcov` on the same files, on
# the colour set, on the Debian manuals (bench/pdf's seeds), and on one large
# manual whose pages nearly all need rendering: gnuplot.pdf from the Debian
# package gnuplot-doc (311 pages, 310 with colour), which measures how a
# single large file is shared among the workers.
#
# Usage: run.sh BUILD_DIR [SET_DIR] [MANUALS_DIR]
#   BUILD_DIR    a build with tallivo-count (Release is best)
#   SET_DIR      made by make-set.sh when missing (default /tmp/tallivo-colour-bench)
#   MANUALS_DIR  default: the installed PDF manuals, copied to SET_DIR/manuals
# AGREEMENT=0 skips the agreement (it renders every page with Ghostscript).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: run.sh BUILD_DIR [SET_DIR] [MANUALS_DIR]}
dir=${2:-/tmp/tallivo-colour-bench}
count=$build/src/cli/tallivo-count
# The workers, as the program starts them: from the libexec folder beside
# its own, named by that path.
worker=$(realpath "$build")/src/cli/../libexec/tallivo/tallivo-pdfworker
py=${PYTHON:-/usr/bin/python3}
[[ -x $count ]] || { echo "run.sh: no $count; build it first" >&2; exit 1; }
[[ -d $dir/set ]] || "$here/make-set.sh" "$dir"
manuals=${3:-$dir/manuals}
if [[ ! -d $manuals ]]; then
    mkdir -p "$manuals"
    n=0
    while IFS= read -r -d '' f; do
        n=$((n + 1))
        case $f in
        *.gz) gzip -dc -- "$f" >"$manuals/m$n.pdf" ;;
        *) cp -- "$f" "$manuals/m$n.pdf" ;;
        esac
    done < <(find /usr/share/doc -type f \( -name '*.pdf' -o -name '*.pdf.gz' \) -print0)
fi

large=$dir/large
large_source=${LARGE_MANUAL:-/usr/share/doc/gnuplot/gnuplot.pdf}
if [[ ! -d $large && -f $large_source ]]; then
    mkdir -p "$large"
    cp -- "$large_source" "$large/"
fi
[[ -d $large ]] || echo "run.sh: no $large_source (apt-get install gnuplot-doc); the large manual is skipped" >&2

if [[ ${AGREEMENT:-1} == 1 ]]; then
    echo "== agreement with gs -sDEVICE=ppmraw -r72 -dPrinted -dUseCropBox"
    "$count" --quiet --subfolders --pages "$dir/pages.tsv" "$dir/set" >/dev/null 2>&1 || true
    "$py" "$here/judge.py" "$dir/pages.tsv" "$dir"/set/*.pdf || true
fi

speed() { # $1 label, $2 folder
    local files pages
    files=$(find "$2" -name '*.pdf' | wc -l)
    sync
    echo "== speed: $1 ($files files)"
    # Timed alone: the sampler below forks several times a tenth of a second.
    TALLIVO_COLOUR_STATS=1 /usr/bin/time -f '%e s, peak RSS %M KB' -o "$dir/time.txt" \
        "$count" --quiet --subfolders --pages "$dir/speed.tsv" "$2" >/dev/null 2>"$dir/stats.txt" || true
    # Once more for the workers' peak RSS and CPU time, sampled: /usr/bin/time
    # does not see them, as the program does not wait for them at its end.
    (
        peak=0
        declare -A cpu=()
        while :; do
            for p in $(pgrep -f "$worker" || true); do
                kb=$(awk '/VmHWM/ {print $2}' "/proc/$p/status" 2>/dev/null || echo 0)
                ((${kb:-0} > peak)) && peak=$kb
                t=$(awk '{print $14 + $15}' "/proc/$p/stat" 2>/dev/null || echo 0)
                cpu[$p]=${t:-0}
            done
            total=0
            for t in "${cpu[@]}"; do total=$((total + t)); done
            echo "$peak KB, CPU $(awk -v t=$total -v hz="$(getconf CLK_TCK)" 'BEGIN {printf "%.2f", t / hz}') s" \
                >"$dir/worker-peak.txt"
            sleep 0.1
        done
    ) &
    sampler=$!
    echo "0 KB, CPU 0 s" >"$dir/worker-peak.txt"
    "$count" --quiet --subfolders --pages "$dir/sampled.tsv" "$2" >/dev/null 2>&1 || true
    kill "$sampler" 2>/dev/null || true
    wait "$sampler" 2>/dev/null || true
    pages=$(awk -F'\t' 'NR > 1 && $2 ~ /^[0-9]+$/' "$dir/speed.tsv" | wc -l)
    echo "tallivo-count --pages: $pages pages, $(cat "$dir/time.txt") (workers: peak RSS $(cat "$dir/worker-peak.txt"))"
    echo "  $(grep -h colour: "$dir/stats.txt" || true)"
    echo "  classes: $(awk -F'\t' 'NR > 1 {print $7}' "$dir/speed.tsv" | sort | uniq -c | tr '\n' ' ')"
    find "$2" -name '*.pdf' -print0 |
        /usr/bin/time -f '%e s, peak RSS %M KB, CPU %U+%S s' -o "$dir/time.txt" \
            xargs -0 gs -q -dSAFER -o - -sDEVICE=inkcov >/dev/null 2>&1 || true
    echo "gs -sDEVICE=inkcov:  $(cat "$dir/time.txt")"
}
for run in 1 2; do
    speed "colour set, run $run" "$dir/set"
    speed "Debian manuals, run $run" "$manuals"
    if [[ -d $large ]]; then
        speed "large graphic manual (gnuplot-doc), run $run" "$large"
    fi
done
