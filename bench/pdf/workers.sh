#!/usr/bin/env bash
# The PDF worker processes: what they cost and what they contain. Never run
# by CTest.
#
# Usage: workers.sh COUNT_BINARY [BASE_BINARY]
#   COUNT_BINARY  tallivo-count of this tree (its tallivo-pdfworker is found
#                 beside it or in its build tree)
#   BASE_BINARY   optional: an older tallivo-count to compare speed with
# Environment: CORPUS (default ../shared/corpus next to the repository),
# FILES=1000 files in the timed set, REPEAT=3 (best run counts),
# BIG_MB=256 for the large non-PDF named .pdf.
#
# Prints, one line each:
#   speed      plain count and --pages of the set (best of REPEAT), the
#              ratio (target <= 1.3x), and the base binary's plain count
#   rss        peak RSS of tallivo-count and of each worker it started
#   isolation  kill -9 of a worker in the middle of a --pages run: the exit
#              status and the files whose counts differ from a clean run
#   trap       48 copies of an 82-byte file that costs the PDF library
#              0.7 s and 600 MB, and 48 copies padded to 17.8 MB
#   notpdf     a BIG_MB log file named .pdf
set -euo pipefail

if (($# < 1 || $# > 2)); then
    sed -n '5,12p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
fi
count=$(realpath "$1")
base=${2:+$(realpath "$2")}
here=$(cd "$(dirname "$0")" && pwd)
corpus=${CORPUS:-$here/../../../shared/corpus}
files=${FILES:-1000}
repeat=${REPEAT:-3}
big_mb=${BIG_MB:-256}
work=$(mktemp -d /tmp/tallivo-workers-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The set: the corpus's PDFs and any installed manuals, hard-linked over and
# over until FILES files.
mapfile -t seeds < <(find "$corpus/pdf" "$corpus/odd" -type f -iname '*.pdf' | sort)
while IFS= read -r -d '' f; do
    case $f in
    *.gz) gzip -dc -- "$f" >"$work/m$((${#seeds[@]})).pdf" 2>/dev/null || continue ;;
    *) cp -- "$f" "$work/m$((${#seeds[@]})).pdf" ;;
    esac
    seeds+=("$work/m$((${#seeds[@]})).pdf")
done < <(find /usr/share/doc -type f \( -name '*.pdf' -o -name '*.pdf.gz' \) -print0 2>/dev/null)
made=0
while ((made < files)); do
    dir=$work/set/$(printf '%03d' $((made / ${#seeds[@]})))
    mkdir -p "$dir"
    for f in "${seeds[@]}"; do
        ((made < files)) || break
        ln -- "$f" "$dir/$made.pdf" 2>/dev/null || cp -- "$f" "$dir/$made.pdf"
        made=$((made + 1))
    done
done
cat "$work"/set/*/* >/dev/null

now() { date +%s.%N; }
best() { # best wall time of REPEAT runs of "$@"
    local b=""
    for _ in $(seq "$repeat"); do
        local t0 t1
        t0=$(now)
        "$@" >/dev/null 2>&1 || true
        t1=$(now)
        b=$(awk -v a="$b" -v t="$(awk -v x="$t0" -v y="$t1" 'BEGIN{print y-x}')" \
            'BEGIN{ if (a == "" || t < a) print t; else print a }')
    done
    echo "$b"
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$count" --quiet --subfolders "$work/set" >/dev/null 2>&1 || true
plain=$(best "$count" --quiet --subfolders "$work/set")
pages=$(best "$count" --quiet --subfolders --pages "$work/pages.tsv" "$work/set")
ratio=$(awk -v a="$plain" -v b="$pages" 'BEGIN{printf "%.2f", b/a}')
line="speed: $files files: plain ${plain}s, --pages ${pages}s, ratio ${ratio}x (target <= 1.3x)"
if [[ -n $base ]]; then
    bplain=$(best "$base" --quiet --subfolders "$work/set")
    bpages=$(best "$base" --quiet --subfolders --pages "$work/pages-base.tsv" "$work/set")
    line+="; base plain ${bplain}s, base --pages ${bpages}s"
fi
echo "$line"

# Peak RSS: tallivo-count's from time(1), each worker's from its VmHWM,
# read while it lives.
peaks=$work/peaks
: >"$peaks"
/usr/bin/time -f '%M' -o "$work/rss" "$count" --quiet --subfolders --pages "$work/p2.tsv" \
    "$work/set" >/dev/null 2>&1 &
runner=$!
while kill -0 "$runner" 2>/dev/null; do
    for p in $(pgrep -P "$(pgrep -P "$runner" | head -1)" 2>/dev/null || true); do
        awk -v p="$p" '/VmHWM/ { print p, $2 }' "/proc/$p/status" 2>/dev/null >>"$peaks" || true
    done
    sleep 0.05
done
wait "$runner" || true
workers=$(sort -k1,1 -k2,2n "$peaks" | awk '{ m[$1] = $2 } END { for (p in m) printf "%s ", m[p] " KB" }')
echo "rss: tallivo-count $(tail -1 "$work/rss") KB; workers: ${workers:-none started}"

# Isolation: a clean --pages run, then the same with a worker killed in the
# middle; only the file it held may differ.
"$count" --subfolders --pages "$work/clean.tsv" "$work/set" 2>/dev/null | sort >"$work/clean.out" || true
"$count" --subfolders --pages "$work/killed.tsv" "$work/set" >"$work/killed.raw" 2>"$work/killed.err" &
runner=$!
killed=""
for _ in $(seq 2000); do
    w=$(pgrep -P "$runner" 2>/dev/null | head -1 || true)
    if [[ -n $w ]]; then
        kill -9 "$w" 2>/dev/null && killed=$w
        break
    fi
    sleep 0.005
done
status=0
wait "$runner" || status=$?
sort "$work/killed.raw" >"$work/killed.out"
differ=$(diff "$work/clean.out" "$work/killed.out" | grep -c '^>' || true)
echo "isolation: worker ${killed:-none seen} killed; exit status $status; rows differing" \
    "from a clean run: $differ; marked: $(grep -c 'failed on this file' "$work/killed.err" || true)"

# The trap file, as is and padded.
trapfile=$corpus/pdf/pdfium__bug_325_a.pdf
if [[ -f $trapfile ]]; then
    mkdir -p "$work/trap" "$work/padded"
    cp "$trapfile" "$work/pad.pdf"
    head -c 17800000 /dev/zero | tr '\0' ' ' >>"$work/pad.pdf"
    for i in $(seq 48); do
        ln "$trapfile" "$work/trap/$i.pdf" 2>/dev/null || cp "$trapfile" "$work/trap/$i.pdf"
        ln "$work/pad.pdf" "$work/padded/$i.pdf"
    done
    for d in trap padded; do
        t0=$(now)
        /usr/bin/time -f '%M' -o "$work/rss" "$count" --quiet --pages "$work/t.tsv" \
            "$work/$d" >/dev/null 2>&1 || true
        t1=$(now)
        echo "trap: 48 $d copies, --pages: $(awk -v x="$t0" -v y="$t1" 'BEGIN{printf "%.2f", y-x}')s," \
            "peak RSS $(tail -1 "$work/rss") KB (target < 12 s and 1.2 GB)"
    done
fi

# A large log file named .pdf.
mkdir -p "$work/big"
{ yes '2026-12-07 13:00:00 GET /index.html 200 1234' || true; } |
    head -c $((big_mb << 20)) >"$work/big/server.log.pdf"
cat "$work/big/server.log.pdf" >/dev/null
t0=$(now)
"$count" --quiet "$work/big" >/dev/null 2>&1 || true
t1=$(now)
echo "notpdf: ${big_mb} MB log named .pdf: $(awk -v x="$t0" -v y="$t1" 'BEGIN{printf "%.2f", y-x}')s"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
