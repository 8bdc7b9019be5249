#!/usr/bin/env bash
# The network-share benchmark: tallivo-count against a single-threaded loop
# over the same files, on a folder served by slowfs (a FUSE pass-through that
# adds a delay to every round trip, as SMB and NFS do). Two trees made of hard
# links into the counting benchmark's corpus: "flat", 400 files in 4 folders,
# and "deep", about 970 files in about 370 nested folders. Never run by CTest.
#
# Usage: run.sh BUILD_DIR [DELAYS_US]
#   BUILD_DIR  a Release build tree with tallivo-count and bench-count-loop
#   DELAYS_US  round-trip delays in microseconds (default "500 2000 10000")
# Environment: CORPUS (default /tmp/tallivo-bench, made by
# bench/count/make-corpus.sh), SLOWFS (the slowfs binary; built from
# ../shared/tools/slowfs.c when absent), COUNT and LOOP (other builds of the two
# programs, to compare), WINDOW (a bench-window binary from a GUI build: the
# window on the deep tree, first rows and longest main-thread stall).
# Needs fuse3, libfuse3-dev and bc.
set -euo pipefail
(($# >= 1)) || { sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
build=$(cd "$1" && pwd)
delays=${2:-500 2000 10000}
here=$(cd "$(dirname "$0")" && pwd)
corpus=${CORPUS:-/tmp/tallivo-bench}
slowfs=${SLOWFS:-/tmp/slowfs}
count=${COUNT:-$build/src/cli/tallivo-count}
loop=${LOOP:-$build/bench/count/bench-count-loop}
[[ -x $slowfs ]] || gcc -O2 "$here/../../../shared/tools/slowfs.c" -o "$slowfs" \
    $(pkg-config --cflags --libs fuse3)
[[ -d $corpus ]] || "$here/../count/make-corpus.sh" "$corpus"

trees=$(mktemp -d "$corpus-share.XXXXXX")
mnt=$(mktemp -d /tmp/tallivo-mnt.XXXXXX)
trap 'fusermount3 -u "$mnt" 2>/dev/null || true; rm -rf "$trees" "$mnt"' EXIT
mapfile -t seeds < <(find "$corpus" -type f \( -name '*.tif*' -o -name '*.pdf' \) | sort | head -n 1000)
# flat: 4 folders of 100 files
n=0
for f in 0 1 2 3; do
    mkdir -p "$trees/flat/folder$f"
    for i in $(seq 0 99); do
        ln "${seeds[n]}" "$trees/flat/folder$f/$(printf '%03d' "$i")-$(basename "${seeds[n]}")"
        n=$((n + 1))
    done
done
# deep: 370 folders, nested up to five levels, 2 or 3 files each
n=0
RANDOM=42
paths=("$trees/deep")
mkdir -p "$trees/deep"
for d in $(seq 1 369); do
    parent=${paths[RANDOM % ${#paths[@]}]}
    [[ $(tr -cd / <<<"${parent#$trees/deep}" | wc -c) -ge 5 ]] && parent=$trees/deep
    dir=$parent/d$d
    mkdir -p "$dir"
    paths+=("$dir")
done
for dir in "${paths[@]}"; do
    for i in $(seq 1 $((2 + RANDOM % 2))); do
        ln "${seeds[n % ${#seeds[@]}]}" "$dir/f$i-$(basename "${seeds[n % ${#seeds[@]}]}")"
        n=$((n + 1))
    done
done

printf '%-6s %-7s %10s %12s %8s %22s %22s\n' tree delay loop_s tallivo_s ratio \
    "loop requests/file" "tallivo requests/file"
for delay in $delays; do
    for tree in flat deep; do
        files=$(find "$trees/$tree" -type f | wc -l)
        # Each program gets a fresh mount: cold attribute and page caches.
        measure() {
            SLOWFS_ROOT=$trees/$tree SLOWFS_US=$delay "$slowfs" -f -o ro "$mnt" 2>"$mnt.log" &
            local pid=$!
            for _ in $(seq 50); do mountpoint -q "$mnt" && break; sleep 0.1; done
            local start end
            start=$(date +%s.%N)
            "$@" >/dev/null
            end=$(date +%s.%N)
            fusermount3 -u "$mnt"
            wait "$pid" || true
            local requests
            requests=$(grep -o 'getattr [0-9]* open [0-9]* read [0-9]* readdir [0-9]*' "$mnt.log" |
                awk '{print $2 + $4 + $6 + $8}')
            echo "$(echo "$end - $start" | bc) $requests"
        }
        (cd "$trees/$tree" && find . -type f | sort | sed "s|^\.|$mnt|") >"$trees/$tree.list"
        read -r loop_s loop_req < <(measure "$loop" --list "$trees/$tree.list")
        read -r count_s count_req < <(measure "$count" --quiet --subfolders "$mnt")
        printf '%-6s %5sus %10.2f %12.2f %7.1fx %22.1f %22.1f\n' "$tree" "$delay" "$loop_s" \
            "$count_s" "$(echo "$loop_s / $count_s" | bc -l)" \
            "$(echo "$loop_req / $files" | bc -l)" "$(echo "$count_req / $files" | bc -l)"
    done
done
if [[ -n ${WINDOW:-} ]]; then
    for delay in $delays; do
        SLOWFS_ROOT=$trees/deep SLOWFS_US=$delay "$slowfs" -f -o ro "$mnt" 2>/dev/null &
        pid=$!
        for _ in $(seq 50); do mountpoint -q "$mnt" && break; sleep 0.1; done
        printf 'window, deep tree, %5sus: ' "$delay"
        QT_QPA_PLATFORM=offscreen "$WINDOW" --subfolders "$mnt" 2>/dev/null | tail -n 1
        fusermount3 -u "$mnt"
        wait "$pid" || true
    done
fi
