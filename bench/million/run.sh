#!/bin/sh
# run.sh BUILD [BEFORE_BUILD] [TREES]: tallivo-count's time and peak memory at
# 10,000, 100,000 and 1,000,000 files, with and without --export, and the
# list's memory, export and quit from bench-million; with BEFORE_BUILD, the
# counter of that build too, for comparison. TREES (default
# /tmp/tallivo-million) holds the trees, made once by make-tree.py from
# CORPUS (default /work/shared/corpus or ../shared/corpus).
set -eu
build=$1 before=${2:-} trees=${3:-/tmp/tallivo-million}
here=$(cd "$(dirname "$0")" && pwd)
corpus=${CORPUS:-$here/../../../shared/corpus}
sizes=${SIZES:-"10000 100000 1000000"}
for n in $sizes; do
    [ -d "$trees/$n" ] || python3 "$here/make-tree.py" "$corpus" "$trees/$n" "$n"
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
measure() { # label command...: wall seconds and peak RSS in MB
    label=$1
    shift
    /usr/bin/time -f '%e %M' -o "$out/time" "$@" >"$out/stdout" 2>/dev/null || true
    read -r secs kib <<EOT
$(tail -n 1 "$out/time")
EOT
    printf '%-44s %8s s %8d MB\n' "$label" "$secs" $((kib / 1024))
}
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for n in $sizes; do
    tree=$trees/$n
    cat "$corpus"/*/* >/dev/null 2>&1 || true
    "$build/src/cli/tallivo-count" --quiet --subfolders "$tree" >/dev/null 2>&1 || true # warm
    for b in $before $build; do
        name=$(basename "$b")
        measure "$name count $n" "$b/src/cli/tallivo-count" --quiet --subfolders "$tree"
        measure "$name count --export $n" "$b/src/cli/tallivo-count" --quiet --subfolders \
            --export "$out/export-$name.txt" "$tree"
        measure "$name count listing $n" "$b/src/cli/tallivo-count" --subfolders "$tree"
    done
    if [ -n "$before" ]; then
        cmp -s "$out/export-$(basename "$before").txt" "$out/export-$(basename "$build").txt" &&
            echo "exports of $n files: identical" || echo "exports of $n files: DIFFER"
    fi
    "$build/bench/million/bench-million" "$tree" | sed "s/^/  list $n: /"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
