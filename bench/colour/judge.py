#!/usr/bin/env python3
"""Compares tallivo-count's colour classes with Ghostscript's print rendering.

Usage: judge.py PAGES_TSV PDF...

PAGES_TSV is `tallivo-count --pages` output for the PDFs. Each page is
rendered by `gs -sDEVICE=ppmraw -r72 -dPrinted -dUseCropBox` (the pixels of
png16m, without the PNG) and called Colour when at least 8 pixels (about
1 mm^2 at 72 dpi) have channels more than 26 of 255 apart: Tallivo's rule at
its own resolution. The class that matters for billing is Colour or not;
B/W against Grey is listed apart, as the pixels alone cannot tell a grey fill
from a grey scan.
"""
import os
import subprocess
import sys
import tempfile

from PIL import Image, ImageChops

CHROMA = 26
MIN_PIXELS = 8


def judge(pdf, tmp):
    for f in os.listdir(tmp):
        os.unlink(os.path.join(tmp, f))
    subprocess.run(["gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=ppmraw", "-r72",
                    "-dPrinted", "-dUseCropBox", "-o", os.path.join(tmp, "p%05d.ppm"), pdf],
                   check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    out = []
    for name in sorted(os.listdir(tmp)):
        img = Image.open(os.path.join(tmp, name)).convert("RGB")
        r, g, b = img.split()
        hi = ImageChops.lighter(ImageChops.lighter(r, g), b)
        lo = ImageChops.darker(ImageChops.darker(r, g), b)
        hist = ImageChops.subtract(hi, lo).histogram()
        chromatic = sum(hist[CHROMA + 1:])
        grey = img.convert("L").histogram()
        mid = sum(grey[32:224])
        if chromatic >= MIN_PIXELS:
            out.append("Colour")
        elif mid * 10 >= img.width * img.height:
            out.append("Grey")
        else:
            out.append("B/W")
    return out


def main():
    ours = {}
    with open(sys.argv[1], encoding="utf-8", errors="surrogateescape") as f:
        for line in f:
            cells = line.rstrip("\n").split("\t")
            if len(cells) < 7 or cells[1] == "Page":
                continue
            ours.setdefault(cells[0], {})[int(cells[1])] = cells[6]
    pages = agree = tone_agree = 0
    unknown = 0
    misses = []
    with tempfile.TemporaryDirectory() as tmp:
        for pdf in sys.argv[2:]:
            theirs = judge(pdf, tmp)
            mine = ours.get(os.path.abspath(pdf), ours.get(pdf, {}))
            for i, t in enumerate(theirs, 1):
                m = mine.get(i, "missing")
                pages += 1
                unknown += m in ("Unknown", "missing")
                if (m == "Colour") == (t == "Colour"):
                    agree += 1
                    tone_agree += m == t
                else:
                    misses.append(f"{os.path.basename(pdf)} page {i}: Tallivo {m}, gs {t}")
    print(f"pages {pages}, Colour/not agreeing {agree} ({100.0 * agree / max(pages, 1):.1f}%), "
          f"same class {tone_agree}, unknown {unknown}")
    for m in misses:
        print("  " + m)
    return 0 if agree == pages else 1


sys.exit(main())
