#!/usr/bin/env python3
"""ReportLab and cairo documents and scan images for the colour benchmark.

Usage: make-pages.py SET_DIR WORK_DIR
"""
import math
import random
import sys

import cairo
from PIL import Image, ImageDraw
from reportlab.lib.colors import CMYKColor, Color
from reportlab.lib.pagesizes import A4
from reportlab.pdfgen import canvas

set_dir, work = sys.argv[1], sys.argv[2]
random.seed(19)
W, H = A4
MM = 72 / 25.4


def text(c, gray=0.0, lines=45):
    c.setFillGray(gray)
    c.setFont("Helvetica", 10)
    for i in range(lines):
        c.drawString(60, H - 70 - i * 15, "Line %d: invoices, statements and reports to be billed." % i)


def grey_photo(size=(400, 300), noise=0, colour=False):
    img = Image.new("RGB" if colour else "L", size)
    px = img.load()
    for y in range(size[1]):
        for x in range(size[0]):
            v = int(128 + 100 * math.sin(x / 23.0) * math.cos(y / 17.0))
            if colour:
                px[x, y] = (v, 255 - v, (x * 3) % 256)
            else:
                px[x, y] = v
    if noise and not colour:
        img = img.convert("RGB")
        px = img.load()
        for y in range(size[1]):
            for x in range(size[0]):
                r, g, b = px[x, y]
                px[x, y] = (r, min(255, max(0, g + random.randint(-noise, noise))), b)
    return img


# ReportLab: one case a page.
c = canvas.Canvas(f"{set_dir}/reportlab-cases.pdf", pagesize=A4)
text(c); c.showPage()                                             # 1 B/W
text(c, 0.3); c.setFillColorRGB(0.4, 0.4, 0.4); c.rect(60, 60, 200, 80, fill=1); c.showPage()  # 2 grey RGB
text(c); c.setFillColorRGB(0.1, 0.3, 0.8); c.rect(W - 80, H - 60, 5 * MM, 5 * MM, fill=1, stroke=0); c.showPage()  # 3 logo
text(c); c.setFillColor(CMYKColor(0, 0, 0, 1)); c.rect(60, 60, 200, 80, fill=1); c.showPage()  # 4 K
text(c); c.setFillColor(CMYKColor(0.6, 0.4, 0.4, 1)); c.rect(60, 60, 200, 80, fill=1); c.showPage()  # 5 rich black
text(c); c.linkURL("https://example.org", (60, 60, 260, 80), relative=0, thickness=1, color=Color(1, 0, 0)); c.showPage()  # 6 link border
grey_photo().save(f"{work}/grey.png"); grey_photo(noise=3).save(f"{work}/grey-noisy-rgb.png")
grey_photo(colour=True).save(f"{work}/colour.png")
Image.open(f"{work}/grey.png").convert("RGB").save(f"{work}/grey-as-rgb.jpg", quality=85)
c.drawImage(f"{work}/grey.png", 60, 300, 400, 300); c.showPage()           # 7 grey image
c.drawImage(f"{work}/grey-as-rgb.jpg", 60, 300, 400, 300); c.showPage()    # 8 grey JPEG in RGB
c.drawImage(f"{work}/grey-noisy-rgb.png", 60, 300, 400, 300); c.showPage() # 9 noisy grey in RGB
c.drawImage(f"{work}/colour.png", 60, 300, 400, 300); c.showPage()         # 10 colour image
text(c); c.setFillColorRGB(1, 0, 0); c.rect(W - 100, H - 100, 90, 90, fill=1); c.setCropBox((0, 0, W - 120, H - 120)); c.showPage()  # 11 colour outside crop
c.save()

# cairo: gradients, transparency, rotation.
s = cairo.PDFSurface(f"{set_dir}/cairo-cases.pdf", W, H)
cr = cairo.Context(s)
def cairo_text(gray=0.0):
    cr.set_source_rgb(gray, gray, gray)
    cr.select_font_face("Sans")
    cr.set_font_size(10)
    for i in range(45):
        cr.move_to(60, 70 + i * 15)
        cr.show_text("Line %d: a page drawn by cairo for the colour benchmark." % i)
cairo_text(); cr.show_page()                                                # 1 B/W
g = cairo.LinearGradient(0, 0, W, 0); g.add_color_stop_rgb(0, 1, 0, 0); g.add_color_stop_rgb(1, 0, 0, 1)
cr.set_source(g); cr.rectangle(60, 60, W - 120, 100); cr.fill(); cairo_text(); cr.show_page()  # 2 red-blue
g = cairo.LinearGradient(0, 0, W, 0); g.add_color_stop_rgb(0, 0, 0, 0); g.add_color_stop_rgb(1, 1, 1, 1)
cr.set_source(g); cr.rectangle(60, 60, W - 120, 100); cr.fill(); cairo_text(); cr.show_page()  # 3 grey gradient
cr.set_source_rgba(0, 0.6, 0, 0.5); cr.rectangle(60, 60, 200, 200); cr.fill(); cairo_text(); cr.show_page()  # 4 transparent green
cr.save(); cr.translate(W / 2, H / 2); cr.rotate(0.5); cr.set_source_rgb(0.9, 0.5, 0); cr.rectangle(-50, -50, 100, 100); cr.fill(); cr.restore(); cairo_text(0.2); cr.show_page()  # 5 rotated orange
cairo_text(0.5); cr.show_page()                                             # 6 grey text
s.finish()

# Scans for img2pdf: grey, grey saved as RGB JPEG, bilevel, colour.
grey_photo((1240, 1754)).save(f"{work}/scan-grey.jpg", quality=80)
grey_photo((1240, 1754)).convert("RGB").save(f"{work}/scan-grey-rgb.jpg", quality=80)
bw = Image.new("1", (2480, 3508), 1)
d = ImageDraw.Draw(bw)
for i in range(60):
    d.text((200, 200 + i * 50), "Scanned line %d of a bilevel page" % i, fill=0)
bw.save(f"{work}/scan-bilevel.png")
grey_photo((1240, 1754), colour=True).save(f"{work}/scan-colour.jpg", quality=80)
