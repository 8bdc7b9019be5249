#!/usr/bin/env bash
# The counting benchmark: files/s and pages/s of tallivo-count against a plain
# one-thread loop over the same counter and against pdfinfo/tiffinfo run once
# per file, then tallivo-count on 10,000 and 100,000 files. Never run by CTest.
#
# Usage: run.sh BUILD_DIR [CORPUS_DIR]
#   BUILD_DIR   a build tree; configured (Release, no GUI, no tests) when empty;
#               tallivo-count and bench-count-loop are brought up to date in it
#   CORPUS_DIR  default /tmp/tallivo-bench; made by make-corpus.sh when absent
# Environment:
#   REPEAT=3         rounds of timed runs, the programs taking turns; each
#                    one's best run counts
#   TOOL_SAMPLE=600  files given to pdfinfo/tiffinfo (0: all); the rate is
#                    extrapolated to the corpus
#   SCALE="10000 100000"  file counts of the scaling runs ("" to skip)
#
# Exit status 1 when the programs disagree on files or pages; a missed target
# is reported, not failed.
set -euo pipefail

if (($# < 1 || $# > 2)); then
    sed -n '6,18p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
fi
mkdir -p "$1"
build=$(cd "$1" && pwd)
corpus=${2:-/tmp/tallivo-bench}
corpus=${corpus%/}
here=$(cd "$(dirname "$0")" && pwd)
repeat=${REPEAT:-3}
tool_sample=${TOOL_SAMPLE:-600}
scale_sizes=${SCALE-10000 100000}

counter=$build/src/cli/tallivo-count
loop=$build/bench/count/bench-count-loop

for tool in pdfinfo:poppler-utils tiffinfo:libtiff-tools; do
    if ! command -v "${tool%%:*}" >/dev/null; then
        echo "run.sh: ${tool%%:*} missing; install: apt-get install ${tool#*:}" >&2
        exit 1
    fi
done
if [[ ! -f $build/CMakeCache.txt ]]; then
    generator=()
    command -v ninja >/dev/null && generator=(-G Ninja)
    cmake -S "$here/../.." -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
        -DTALLIVO_BUILD_GUI=OFF -DTALLIVO_BUILD_TESTS=OFF -DTALLIVO_BUILD_BENCH=ON >/dev/null
fi
if grep -qE '^(CMAKE_BUILD_TYPE:STRING=(Debug)?|TALLIVO_SANITIZE:BOOL=ON)$' \
    "$build/CMakeCache.txt"; then
    echo "run.sh: warning: $build is a debug or sanitizer build; figures will be low" >&2
fi
cmake --build "$build" --target tallivo-count bench-count-loop >/dev/null
[[ -d $corpus ]] || "$here/make-corpus.sh" "$corpus"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/tallivo-bench-run.XXXXXX")
# Next to the corpus, so hard links to it can be made there.
scale_root=$(mktemp -d "$corpus-scale.XXXXXX")
trap 'rm -rf "$tmp" "$scale_root"' EXIT

# --- helpers ----------------------------------------------------------------

# Prints b - a for two $EPOCHREALTIME stamps.
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.6f", b - a }'; }
div() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
# True when a >= b (or, with "le", a <= b).
holds() {
    awk -v a="$1" -v b="$2" -v op="${3:-ge}" 'BEGIN { exit !(op == "le" ? a <= b : a >= b) }'
}

run_count() { "$counter" --quiet --subfolders "$corpus"; }
run_loop() { "$loop" "$corpus"; }
# shellcheck disable=SC2317 # called by race
run_scale() { "$counter" --quiet --subfolders "$scale_root/$1"; }

# Runs the named programs (run_NAME, or run_NAME ARG for "NAME:ARG") in turn,
# $repeat rounds, so that changes in the machine's load hit them alike. Keeps
# each one's best wall time in best[NAME], the 1-minute load average just
# after that run in load_at[NAME], and its output in $tmp/NAME.out.
declare -A best=() load_at=()
race() {
    local r name t0 t1 t
    for ((r = 0; r < repeat; r++)); do
        for name in "$@"; do
            t0=$EPOCHREALTIME
            "run_${name%%:*}" "${name#*:}" >"$tmp/$name.out"
            t1=$EPOCHREALTIME
            t=$(elapsed "$t0" "$t1")
            if [[ -z ${best[$name]:-} ]] || holds "${best[$name]}" "$t"; then
                best[$name]=$t
                load_at[$name]=$(cut -d' ' -f1 /proc/loadavg)
            fi
        done
    done
}

# The files a folder walk takes, one per line: allowed extensions, exact case,
# hidden entries skipped.
list_files() {
    find "$1" -name '.*' -prune -o -type f \( -name '*.tif' -o -name '*.TIF' -o -name '*.tiff' \
        -o -name '*.TIFF' -o -name '*.pdf' -o -name '*.PDF' \) -print
}

# Sets $files and $pages from tallivo-count's output in file $1.
read_counter() {
    pages=$(sed -n 's/^Total Pages TIFF : \([0-9]*\) PDF : \([0-9]*\)$/\1 \2/p' "$1" |
        awk '{ print $1 + $2 }')
    files=$(sed -n 's/^\([0-9]*\) Total file(s).*/\1/p' "$1")
}

row() { # label seconds files pages load [note]
    printf '%-34s %9.3f %10s %11s %5s  %s\n' "$1" "$2" "$(div "$3" "$2")" "$(div "$4" "$2")" \
        "$5" "${6:-}"
}

verdict() { # what value target op
    if holds "$2" "$3" "$4"; then echo "$1 ${2}x (target ${5}) met"; else
        echo "$1 ${2}x (target ${5}) MISSED"; fi
}

# --- corpus and warm-up -------------------------------------------------------

list_files "$corpus" >"$tmp/all"
corpus_files=$(wc -l <"$tmp/all")
corpus_mib=$(du -sm "$corpus" | cut -f1)
load_before=$(uptime)
# Every byte in the page cache, then one untimed pass of each program.
xargs -d '\n' cat <"$tmp/all" >/dev/null
run_count >/dev/null
run_loop >/dev/null

echo "Counting benchmark, $(nproc) cores; corpus $corpus: $corpus_files files, $corpus_mib MiB"
echo "load before: ${load_before#*load average: }"
printf '%-34s %9s %10s %11s %5s\n' "best of $repeat warm runs" seconds files/s pages/s load

# --- tallivo-count against the loop -----------------------------------------

race count loop
read_counter "$tmp/count.out"
count_time=${best[count]} count_files=$files count_pages=$pages
row "tallivo-count ($(nproc) cores)" "$count_time" "$count_files" "$count_pages" "${load_at[count]}"

loop_files=$(sed -n 's/^files: \([0-9]*\) .*/\1/p' "$tmp/loop.out")
loop_pages=$(sed -n 's/.* pages: \([0-9]*\) .*/\1/p' "$tmp/loop.out")
loop_time=${best[loop]}
row "bench-count-loop (1 thread)" "$loop_time" "$loop_files" "$loop_pages" "${load_at[loop]}"

# --- pdfinfo / tiffinfo once per file ---------------------------------------

step=1
if ((tool_sample > 0 && corpus_files > tool_sample)); then
    step=$(((corpus_files + tool_sample - 1) / tool_sample))
fi
awk -v s="$step" '(NR - 1) % s == 0' "$tmp/all" >"$tmp/sample"
grep -E '\.(pdf|PDF)$' "$tmp/sample" >"$tmp/sample-pdf" || true
grep -vE '\.(pdf|PDF)$' "$tmp/sample" >"$tmp/sample-tiff" || true
sample_files=$(wc -l <"$tmp/sample")
# One process per file, one after the other, as a shell loop would run them.
t0=$EPOCHREALTIME
xargs -r -d '\n' -n 1 pdfinfo <"$tmp/sample-pdf" >"$tmp/pdfinfo" 2>/dev/null || true
xargs -r -d '\n' -n 1 tiffinfo <"$tmp/sample-tiff" >"$tmp/tiffinfo" 2>/dev/null || true
t1=$EPOCHREALTIME
tool_sample_time=$(elapsed "$t0" "$t1")
tool_pages=$(($(awk '/^Pages:/ { n += $2 } END { print n + 0 }' "$tmp/pdfinfo") +
    $(grep -c '^TIFF Directory' "$tmp/tiffinfo" || true)))
# Scaled to the whole corpus at the sample's rates.
tool_time=$(awk -v t="$tool_sample_time" -v n="$sample_files" -v all="$corpus_files" \
    'BEGIN { printf "%.6f", t * all / n }')
tool_pages_all=$(awk -v p="$tool_pages" -v n="$sample_files" -v all="$corpus_files" \
    'BEGIN { printf "%d", p * all / n }')
note=""
((sample_files < corpus_files)) &&
    note="sampled $sample_files of $corpus_files files (every ${step}th), one run, extrapolated"
row "pdfinfo/tiffinfo, 1 process/file" "$tool_time" "$corpus_files" "$tool_pages_all" \
    "$(cut -d' ' -f1 /proc/loadavg)" "$note"

echo
verdict "tallivo-count / loop, files/s:" "$(ratio "$loop_time" "$count_time")" 1.6 ge ">= 1.6x"
verdict "tallivo-count / per-file tools, files/s:" "$(ratio "$tool_time" "$count_time")" 20 ge \
    ">= 20x"
echo "tallivo-count / per-file tools, pages/s: $(ratio \
    "$(div "$count_pages" "$count_time")" "$(div "$tool_pages" "$tool_sample_time")")x"

status=0
if [[ $count_files == "$loop_files" && $count_pages == "$loop_pages" ]]; then
    echo "totals agree: $count_files files, $count_pages pages"
else
    echo "TOTALS DIFFER: tallivo-count $count_files files $count_pages pages," \
        "loop $loop_files files $loop_pages pages"
    status=1
fi

# --- scaling ------------------------------------------------------------------

# A tree of exactly $1 files: whole hard-linked copies of the corpus, nested
# one level deeper, the last one cut short.
make_scale_tree() {
    local n=$1 target=$scale_root/$1 copies c excess
    rm -rf "$target"
    mkdir -p "$target"
    copies=$(((n + corpus_files - 1) / corpus_files))
    for ((c = 1; c <= copies; c++)); do
        if ! cp -al "$corpus" "$(printf '%s/copy-%03d' "$target" "$c")" 2>/dev/null; then
            echo "run.sh: cannot hard-link the corpus into $scale_root (another file system?)" >&2
            return 1
        fi
    done
    excess=$((copies * corpus_files - n))
    if ((excess > 0)); then
        list_files "$(printf '%s/copy-%03d' "$target" "$copies")" | tail -n "$excess" |
            xargs -d '\n' rm -f
    fi
}

if [[ -n $scale_sizes ]]; then
    echo
    echo "scaling, tallivo-count, hard links to the corpus (data already cached):"
    runs=()
    for n in $scale_sizes; do
        make_scale_tree "$n"
        find "$scale_root/$n" >/dev/null # directory entries into the cache
        runs+=("scale:$n")
    done
    race "${runs[@]}"
    for n in $scale_sizes; do
        read_counter "$tmp/scale:$n.out"
        row "  $n files" "${best[scale:$n]}" "$files" "$pages" "${load_at[scale:$n]}"
        if [[ $files != "$n" ]]; then
            echo "  FILE COUNT DIFFERS: $files listed, $n made"
            status=1
        fi
    done
    if [[ -n ${best[scale:10000]:-} && -n ${best[scale:100000]:-} ]]; then
        verdict "100,000 / 10,000 files, time:" \
            "$(ratio "${best[scale:100000]}" "${best[scale:10000]}")" 11 le "<= 11x"
    fi
fi

echo
echo "load after: $(uptime | sed 's/.*load average: //')"
exit $status
