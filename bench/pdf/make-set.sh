#!/usr/bin/env bash
# Makes the PDF benchmark set: the PDF manuals of installed Debian packages
# and the PDFs of the counting benchmark's corpus when it exists, hard-linked
# under numbered folders until the wanted number of files is reached. With
# --rewrites, the manuals rewritten by qpdf with object streams, and
# linearized, join them: a harder set, where most files need a stream
# inflated.
#
# Usage: make-set.sh [--rewrites] [DIR] [FILES]
#   DIR    where to make it (default /tmp/tallivo-pdf-bench); an existing DIR
#          is replaced only when an earlier run of this script made it
#   FILES  how many files (default 4800)
#
# Manuals come from packages such as r-doc-pdf gnuplot-doc xorg-docs
# asymptote-doc octave-doc texlive-fonts-recommended-doc; qpdf is needed for
# the rewrites.
set -euo pipefail

rewrites=false
if [[ ${1:-} == --rewrites ]]; then
    rewrites=true
    shift
fi
dir=${1:-/tmp/tallivo-pdf-bench}
total=${2:-4800}
marker=.tallivo-pdf-bench
counting_corpus=${COUNT_CORPUS:-/tmp/tallivo-bench}

if ! [[ $total =~ ^[0-9]+$ ]] || ((total < 1)); then
    echo "make-set.sh: FILES must be a positive number" >&2
    exit 2
fi
if [[ -e $dir && ! -e $dir/$marker ]] && [[ -n $(ls -A "$dir" 2>/dev/null) ]]; then
    echo "make-set.sh: $dir exists and was not made by this script; not touching it" >&2
    exit 1
fi
rm -rf "$dir"
seeds=$dir/seeds
mkdir -p "$seeds/manuals" "$seeds/objstm" "$seeds/linearized" "$seeds/corpus"
: >"$dir/$marker"

n=0
while IFS= read -r -d '' f; do
    n=$((n + 1))
    case $f in
    *.gz) gzip -dc -- "$f" >"$seeds/manuals/m$n.pdf" ;;
    *) cp -- "$f" "$seeds/manuals/m$n.pdf" ;;
    esac
done < <(find /usr/share/doc /usr/share/texlive /usr/share/texmf -type f \
    \( -name '*.pdf' -o -name '*.pdf.gz' \) -print0 2>/dev/null)
if ((n == 0)); then
    echo "make-set.sh: no PDF manuals installed; e.g. apt-get install r-doc-pdf gnuplot-doc" >&2
    exit 1
fi
if $rewrites; then
    command -v qpdf >/dev/null || {
        echo "make-set.sh: --rewrites needs qpdf" >&2
        exit 1
    }
    for f in "$seeds"/manuals/*.pdf; do
        b=$(basename "$f")
        qpdf --warning-exit-0 --no-warn --object-streams=generate "$f" "$seeds/objstm/$b" 2>/dev/null ||
            rm -f "$seeds/objstm/$b"
        qpdf --warning-exit-0 --no-warn --linearize "$f" "$seeds/linearized/$b" 2>/dev/null ||
            rm -f "$seeds/linearized/$b"
    done
fi
if [[ -d $counting_corpus ]]; then
    # One copy of each distinct file.
    find "$counting_corpus" -type f \( -name '*.pdf' -o -name '*.PDF' \) -print0 |
        xargs -0 -r md5sum | sort -u -k1,1 | cut -c35- |
        while IFS= read -r f; do cp -- "$f" "$seeds/corpus/c$((++n)).pdf"; done
fi

mapfile -t all < <(find "$seeds" -type f -name '*.pdf' | sort)
made=0
copy=0
while ((made < total)); do
    copy=$((copy + 1))
    target=$(printf '%s/set-%03d' "$dir" "$copy")
    mkdir -p "$target"
    for f in "${all[@]}"; do
        ((made < total)) || break
        ln -- "$f" "$target/$(basename "$(dirname "$f")")-$(basename "$f")"
        made=$((made + 1))
    done
done
echo "make-set.sh: $made files from ${#all[@]} distinct PDFs in $dir"
