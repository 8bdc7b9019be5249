#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace tallivo::test {

// Small real files made on the spot, so tests need no binary fixtures.
bool writeTiff(const QString &path, int pages, bool bigTiff = false);
// Black-and-white pages in CCITT Group 4, as scanners write them; with
// `cutAfterFirst`, the file ends where the second page's image begins, its
// first directory whole and pointing past the end.
bool writeG4Tiff(const QString &path, int pages, bool cutAfterFirst = false);
QByteArray pdfBytes(int pages);
// A PDF of the given objects, numbered from 1; object 1 is the catalog.
QByteArray pdfOfObjects(const QList<QByteArray> &objects);
bool writePdf(const QString &path, int pages);
// A PDF of `pages` pages of `width` by `height` points, each a square filled
// black, or red when `colour`.
QByteArray pdfOfSize(int pages, int width, int height, bool colour);
// One A4 page of black but for a red logo of 3.5 x 3.5 mm (12.4 mm^2):
// Colour under a smaller colour tolerance, B/W under a larger one.
QByteArray pdfWithLogo();
bool writeBytes(const QString &path, const QByteArray &bytes);

} // namespace tallivo::test
