#!/usr/bin/env bash
# Makes the colour benchmark set: PDFs from several producers whose pages
# cover the colour rule's cases (neutral greys in each space, rich black,
# a small logo, annotations with and without the Print flag, colour outside
# the CropBox, grey and colour scans, shadings, transparency), a hundred-page
# document with colour on two pages, and qpdf rewrites of them all.
#
# Usage: make-set.sh [DIR]     (default /tmp/tallivo-colour-bench)
#
# Needs ghostscript, groff, qpdf, img2pdf, python3-reportlab, python3-cairo
# and python3-pil; with APT=1 it installs what is missing (as root). LaTeX
# documents join the set when pdflatex is installed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=${1:-/tmp/tallivo-colour-bench}
marker=.tallivo-colour-bench

if [[ ${APT:-0} == 1 ]]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
        ghostscript groff qpdf img2pdf python3-reportlab python3-cairo python3-pil >/dev/null
fi
for tool in gs ps2pdf groff qpdf img2pdf; do
    command -v $tool >/dev/null || {
        echo "make-set.sh: $tool is missing (APT=1 installs it)" >&2
        exit 1
    }
done
if [[ -e $dir && ! -e $dir/$marker ]] && [[ -n $(ls -A "$dir" 2>/dev/null) ]]; then
    echo "make-set.sh: $dir exists and was not made by this script; not touching it" >&2
    exit 1
fi
rm -rf "$dir"
mkdir -p "$dir/set" "$dir/work"
: >"$dir/$marker"
set_dir=$dir/set
work=$dir/work

# Ghostscript from PostScript: text, CMYK and rich black, grey art, and the
# hundred pages with colour on pages 37 and 81.
ps_page() { # $1 page number, $2 colour operator or ""
    printf '%%%%Page: %s %s\n/Times-Roman findfont 11 scalefont setfont\n' "$1" "$1"
    for line in $(seq 1 50); do
        printf '0 setgray 72 %d moveto (Line %d of page %d: the quick brown fox jumps over the lazy dog.) show\n' \
            $((760 - line * 13)) "$line" "$1"
    done
    [[ -n $2 ]] && printf '%s 480 740 14.2 14.2 rectfill\n' "$2"
    printf 'showpage\n'
}
{
    echo '%!PS-Adobe-3.0'
    for p in $(seq 1 100); do
        case $p in
        37) ps_page "$p" '0.8 0.1 0.1 setrgbcolor' ;;
        81) ps_page "$p" '1 0 0 0 setcmykcolor' ;;
        *) ps_page "$p" '' ;;
        esac
    done
} >"$work/hundred.ps"
ps2pdf "$work/hundred.ps" "$set_dir/gs-hundred.pdf"
{
    echo '%!PS-Adobe-3.0'
    ps_page 1 '0 0 0 1 setcmykcolor'
    ps_page 2 '0.6 0.4 0.4 1 setcmykcolor'
    ps_page 3 '0.5 setgray'
    ps_page 4 '0.3 0.3 0.3 setrgbcolor'
    ps_page 5 '0 1 1 0 setcmykcolor'
    ps_page 6 '[/Separation /All /DeviceCMYK {dup dup dup}] setcolorspace 1 setcolor'
    ps_page 7 '[/Separation (PANTONE 185 C) /DeviceCMYK {dup 0 exch 0.8 mul 0}] setcolorspace 1 setcolor'
    ps_page 8 '[/Separation /Black /DeviceCMYK {0 0 0 4 -1 roll}] setcolorspace 0.7 setcolor'
} >"$work/spaces.ps"
ps2pdf "$work/spaces.ps" "$set_dir/gs-spaces.pdf"

# groff manual pages, one with a red line.
n=0
for page in /usr/share/man/man1/ls.1.gz /usr/share/man/man1/cp.1.gz /usr/share/man/man1/bash.1.gz; do
    [[ -e $page ]] || continue
    n=$((n + 1))
    zcat "$page" | groff -man -Tps >"$work/man$n.ps" 2>/dev/null || continue
    ps2pdf "$work/man$n.ps" "$set_dir/groff-man$n.pdf"
done
printf '.gcolor red\nThis line is red.\n.gcolor\n.sp\nThis one is black.\n' |
    groff -Tps >"$work/red.ps"
ps2pdf "$work/red.ps" "$set_dir/groff-red.pdf"

# ReportLab, cairo and the scans.
"${PYTHON:-/usr/bin/python3}" "$here/make-pages.py" "$set_dir" "$work"
for scan in "$work"/scan-*; do
    img2pdf --pagesize A4 -o "$set_dir/img2pdf-$(basename "${scan%.*}").pdf" "$scan"
done

# LaTeX, where it is installed: hyperref's link boxes do not print.
if command -v pdflatex >/dev/null; then
    cat >"$work/doc.tex" <<'TEX'
\documentclass{article}\usepackage{hyperref}\usepackage{xcolor}
\begin{document}\section{One}\label{one}Plain text, see \ref{one}.\newpage
Text with a \textcolor{red}{red word}.\newpage\url{https://example.org}\end{document}
TEX
    (cd "$work" && pdflatex -interaction=batchmode doc.tex >/dev/null 2>&1 || true)
    [[ -e $work/doc.pdf ]] && cp "$work/doc.pdf" "$set_dir/latex-doc.pdf"
fi

# qpdf rewrites: object streams, and linearized.
for f in "$set_dir"/*.pdf; do
    base=$(basename "$f" .pdf)
    qpdf --object-streams=generate "$f" "$set_dir/qpdf-objstm-$base.pdf" || true
    qpdf --linearize "$f" "$set_dir/qpdf-lin-$base.pdf" || true
done
echo "$(find "$set_dir" -name '*.pdf' | wc -l) PDFs in $set_dir"
