#!/usr/bin/env python3
"""make-tree.py CORPUS DEST N: N hard links to 50 TIFF and PDF files of
CORPUS, 500 to a folder (DEST/d0000/f0000000.tif ...). No extra disk space is
used: every file is a link to a corpus file."""
import os
import sys

corpus, dest, n = sys.argv[1], sys.argv[2], int(sys.argv[3])
sources = []
for root, _, names in os.walk(corpus):
    for name in names:
        if name.lower().endswith((".tif", ".tiff", ".pdf")):
            sources.append(os.path.join(root, name))
# Half TIFF, half PDF, none of the corpus's deliberately odd files.
sources = sorted(s for s in sources if "/odd/" not in s)
pdfs = [s for s in sources if s.lower().endswith(".pdf")][:25]
tiffs = [s for s in sources if not s.lower().endswith(".pdf")][:25]
sources = [s for pair in zip(tiffs, pdfs) for s in pair] or sources[:50]
if not sources:
    sys.exit(f"no TIFF or PDF files in {corpus}")
for i in range(n):
    folder = os.path.join(dest, "d%04d" % (i // 500))
    if i % 500 == 0:
        os.makedirs(folder, exist_ok=True)
    source = sources[i % len(sources)]
    ext = source.rsplit(".", 1)[1].lower()
    target = os.path.join(folder, "f%07d.%s" % (i, ext))
    if not os.path.exists(target):
        os.link(source, target)
