#!/usr/bin/env bash
# Makes the synthetic corpus of the counting benchmark: some seventy distinct
# TIFF and PDF seed files, copied under nested folders until the wanted number
# of files is reached. Copies, not links, so every file has its own inode and
# cache pages, as in a real archive.
#
# Usage: make-corpus.sh [DIR] [FILES]
#   DIR    where to make it (default /tmp/tallivo-bench); an existing DIR is
#          replaced only when an earlier run of this script made it
#   FILES  how many files (default 5000)
#
# Needs, from Debian packages: imagemagick (convert), libtiff-tools (tiffcp,
# tiff2pdf), ghostscript (gs), qpdf, poppler-utils (pdftocairo, pdfunite).
set -euo pipefail

dir=${1:-/tmp/tallivo-bench}
total=${2:-5000}
per_folder=50
marker=.tallivo-bench-corpus

missing=()
for tool in convert:imagemagick tiffcp:libtiff-tools tiff2pdf:libtiff-tools gs:ghostscript \
    qpdf:qpdf pdftocairo:poppler-utils pdfunite:poppler-utils; do
    command -v "${tool%%:*}" >/dev/null || missing+=("${tool#*:}")
done
if ((${#missing[@]})); then
    echo "make-corpus.sh: missing tools; install: apt-get install ${missing[*]}" >&2
    exit 1
fi
if ! [[ $total =~ ^[0-9]+$ ]] || ((total < 1)); then
    echo "make-corpus.sh: FILES must be a positive number" >&2
    exit 2
fi
if [[ -e $dir && ! -e $dir/$marker ]] && [[ -n $(ls -A "$dir" 2>/dev/null) ]]; then
    echo "make-corpus.sh: $dir exists and was not made by this script; not touching it" >&2
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tallivo-seeds.XXXXXX")
trap 'rm -rf "$work"' EXIT
seeds=$work/seeds
mkdir -p "$seeds"
started=$SECONDS

# --- page images ------------------------------------------------------------

# Lines of "words" as black bars, like a scanned letter. $1 width, $2 height,
# $3 random seed; prints an ImageMagick -draw list.
text_bars() {
    local w=$1 h=$2 x y len out=""
    RANDOM=$3
    for ((y = h / 12; y < h - h / 12; y += h / 45)); do
        x=$((w / 10))
        while ((x < w - w / 8)); do
            len=$((w / 60 + RANDOM % (w / 12)))
            out+="rectangle $x,$y $((x + len)),$((y + h / 90)) "
            x=$((x + len + w / 80))
        done
    done
    printf '%s' "$out"
}

for i in 1 2 3; do
    # Bilevel letter page at 200 dpi, the common office scan.
    convert -size 1700x2200 xc:white -fill black -draw "$(text_bars 1700 2200 $i)" \
        -draw "rectangle 170,120 $((600 + 100 * i)),190" -monochrome -depth 1 \
        -define quantum:polarity=min-is-white "$work/bw$i.tif"
    # Greyscale page at 100 dpi with a shaded background.
    convert -size 850x1100 gradient:white-gray85 -fill gray20 \
        -draw "$(text_bars 850 1100 $((i + 10)))" -colorspace Gray -alpha off -depth 8 \
        "$work/grey$i.tif"
    # Colour photo-like page.
    convert -size 640x480 -seed $i plasma:white-steelblue -alpha off -depth 8 -type TrueColor \
        "$work/rgb$i.tif"
done

# --- TIFF seeds -------------------------------------------------------------

# $1 name, $2 page count, $3 base image stem, rest: tiffcp options. Pages cycle
# through the three images of the stem.
tiff_seed() {
    local name=$1 pages=$2 base=$3 inputs=() p
    shift 3
    for ((p = 0; p < pages; p++)); do
        inputs+=("$work/$base$((p % 3 + 1)).tif")
    done
    tiffcp "$@" "${inputs[@]}" "$seeds/$name"
}

# libtiff as producer: strips and tiles, both byte orders, a few BigTIFF.
tiff_seed t-g4-1.tif 1 bw -c g4
tiff_seed t-g4-3.TIF 3 bw -c g4
tiff_seed t-g4-12.tif 12 bw -c g4
tiff_seed t-g4-40.tif 40 bw -c g4
tiff_seed t-g4-150.tif 150 bw -c g4
tiff_seed t-g4-be-6.tif 6 bw -c g4 -B
tiff_seed t-g4-tiles-8.tif 8 bw -c g4 -t -w 512 -l 512
tiff_seed t-g4-big-20.tif 20 bw -c g4 -8
tiff_seed t-g3-5.tiff 5 bw -c g3
tiff_seed t-none-bw-2.tif 2 bw -c none
tiff_seed t-none-grey-1.tif 1 grey -c none
tiff_seed t-none-tiles-1.TIFF 1 grey -c none -t -w 256 -l 256
tiff_seed t-lzw-grey-4.tif 4 grey -c lzw
tiff_seed t-lzw-grey-pred-10.tif 10 grey -c lzw:2 -r 16
tiff_seed t-lzw-bw-25.tif 25 bw -c lzw
tiff_seed t-lzw-tiles-6.tif 6 grey -c lzw -t -w 256 -l 256
tiff_seed t-lzw-rgb-2.tif 2 rgb -c lzw:2
tiff_seed t-lzw-big-8.tif 8 grey -c lzw -8
tiff_seed t-zip-grey-2.tif 2 grey -c zip
tiff_seed t-zip-grey-15.tiff 15 grey -c zip:2 -r 64
tiff_seed t-zip-tiles-5.tif 5 grey -c zip -t -w 128 -l 128
tiff_seed t-zip-be-7.tif 7 grey -c zip -B
tiff_seed t-zip-big-tiles-4.tif 4 grey -c zip -8 -t -w 256 -l 256
tiff_seed t-packbits-bw-9.tif 9 bw -c packbits
tiff_seed t-packbits-grey-3.TIF 3 grey -c packbits
tiff_seed t-packbits-bw-12.tif 12 bw -c packbits -r 64
tiff_seed t-jpeg-grey-1.tif 1 grey -c jpeg:80 -r 32
tiff_seed t-jpeg-grey-20.tif 20 grey -c jpeg:60 -r 64
tiff_seed t-jpeg-rgb-2.tif 2 rgb -c jpeg:75 -r 32
tiff_seed t-jpeg-rgb-12.tif 12 rgb -c jpeg:50 -r 16
tiff_seed t-jpeg-tiles-6.tif 6 rgb -c jpeg -t -w 256 -l 256
tiff_seed t-jpeg-big-5.tif 5 rgb -c jpeg -8 -r 64
tiff_seed t-g4-300.tif 300 bw -c g4

# ImageMagick as producer.
im_seed() {
    local name=$1 pages=$2 base=$3 inputs=() p
    shift 3
    for ((p = 0; p < pages; p++)); do
        inputs+=("$work/$base$((p % 3 + 1)).tif")
    done
    convert "${inputs[@]}" "$@" "$seeds/$name"
}
im_seed m-group4-1.tif 1 bw -compress Group4
im_seed m-group4-7.tif 7 bw -compress Group4
im_seed m-group4-30.TIF 30 bw -compress Group4
im_seed m-lzw-grey-3.tif 3 grey -compress LZW
im_seed m-zip-grey-8.tif 8 grey -compress Zip
im_seed m-rle-bw-4.tif 4 bw -compress RLE
im_seed m-jpeg-rgb-6.tif 6 rgb -compress JPEG -quality 70
im_seed m-jpeg-grey-tiles-3.tif 3 grey -compress JPEG -define tiff:tile-geometry=256x256
im_seed m-none-rgb-1.tiff 1 rgb -compress None
im_seed m-lzw-tiles-5.tif 5 grey -compress LZW -define tiff:tile-geometry=128x128

# --- PDF seeds --------------------------------------------------------------

# A PostScript program of $1 text pages, for Ghostscript to write as PDF.
ps_pages() {
    cat <<EOF
%!PS
/Helvetica findfont 10 scalefont setfont
1 1 $1 {
  /n exch def
  72 740 moveto /Helvetica-Bold findfont 16 scalefont setfont
  (Statement of account, page ) show n 10 string cvs show
  /Helvetica findfont 10 scalefont setfont
  0 1 52 { /l exch def 72 710 l 12 mul sub moveto
    (Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor ) show
    l n add 10 string cvs show } for
  0.8 setgray 60 40 480 8 rectfill 0 setgray
  showpage
} for
EOF
}

gs_pdf() { # $1 name, $2 pages, rest: gs options
    local name=$1 pages=$2
    shift 2
    ps_pages "$pages" >"$work/doc.ps"
    # FastWebView prints its hint tables; show them only when gs fails.
    gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite "$@" -o "$seeds/$name" "$work/doc.ps" \
        >"$work/gs.log" 2>&1 || { cat "$work/gs.log" >&2; return 1; }
}
gs_pdf p-gs-1.pdf 1
gs_pdf p-gs-2.pdf 2
gs_pdf p-gs-5.PDF 5
gs_pdf p-gs-14.pdf 14
gs_pdf p-gs-40.pdf 40
gs_pdf p-gs-120.pdf 120
gs_pdf p-gs-14-pdf14.pdf 14 -dCompatibilityLevel=1.4
gs_pdf p-gs-8-fastweb.pdf 8 -dFastWebView=true
gs_pdf p-gs-350.pdf 350

# The rest is made from seeds already there.
(
    cd "$seeds"
    q() { qpdf --warning-exit-0 "$@"; }

    # libtiff's tiff2pdf: scans wrapped as PDF.
    tiff2pdf -o p-tiff2pdf-g4-12.pdf t-g4-12.tif
    tiff2pdf -j -q 75 -o p-tiff2pdf-jpeg-2.pdf t-lzw-rgb-2.tif
    tiff2pdf -o p-tiff2pdf-g4-40.pdf t-g4-40.tif
    tiff2pdf -z -o p-tiff2pdf-zip-4.pdf t-lzw-grey-4.tif

    # cairo and poppler as producers.
    pdftocairo -pdf p-gs-5.PDF p-cairo-5.pdf
    pdftocairo -pdf p-gs-40.pdf p-cairo-40.pdf
    pdfunite p-gs-14.pdf p-tiff2pdf-g4-12.pdf p-cairo-5.pdf p-unite-31.pdf
    pdfunite p-gs-120.pdf p-gs-40.pdf p-tiff2pdf-g4-40.pdf p-unite-200.pdf

    # qpdf: linearized, object and cross-reference streams, merged, and
    # encrypted with an empty user password (opens without asking).
    q --linearize p-gs-14.pdf p-qpdf-lin-14.pdf
    # pdfunite miscounts its objects in the trailer; qpdf copes, and says so
    # unless told not to.
    q --no-warn --linearize p-unite-200.pdf p-qpdf-lin-200.pdf
    q --object-streams=generate p-gs-40.pdf p-qpdf-objstm-40.pdf
    q --object-streams=generate p-tiff2pdf-g4-12.pdf p-qpdf-objstm-12.PDF
    q --linearize --object-streams=generate p-cairo-40.pdf p-qpdf-lin-objstm-40.pdf
    q --qdf p-gs-5.PDF p-qpdf-qdf-5.pdf
    q --empty --pages p-gs-2.pdf p-tiff2pdf-jpeg-2.pdf p-gs-1.pdf -- p-qpdf-merge-5.pdf
    q --empty --pages p-gs-350.pdf 1-200 -- p-qpdf-pages-200.pdf
    q --encrypt "" owner 256 -- p-gs-14.pdf p-qpdf-aes256-14.pdf
    q --no-warn --encrypt "" owner 128 --use-aes=y -- p-unite-31.pdf p-qpdf-aes128-31.pdf
    q --allow-weak-crypto --encrypt "" owner 128 --use-aes=n -- p-gs-2.pdf p-qpdf-rc4-2.pdf
)

# --- the corpus: seeds copied into nested folders ---------------------------

mapfile -t seed_files < <(cd "$seeds" && ls)
count=${#seed_files[@]}
rm -rf "$dir"
mkdir -p "$dir"
: >"$dir/$marker"
made=0
folder=0
while ((made < total)); do
    take=$((total - made < per_folder ? total - made : per_folder))
    leaf=$(printf '%s/batch-%02d/box-%02d' "$dir" $((folder / 10 + 1)) $((folder % 10 + 1)))
    mkdir -p "$leaf"
    # Each folder takes the next run of seeds, so every seed is copied about
    # equally often; a folder never holds one seed twice.
    chosen=()
    for ((k = 0; k < take && k < count; k++)); do
        chosen+=("$seeds/${seed_files[(made + k) % count]}")
    done
    cp -- "${chosen[@]}" "$leaf/"
    made=$((made + ${#chosen[@]}))
    folder=$((folder + 1))
done

bytes=$(du -sb "$dir" | cut -f1)
echo "make-corpus.sh: $made files ($count distinct seeds, $((bytes / 1048576)) MiB) in $dir," \
    "$((SECONDS - started)) s"
