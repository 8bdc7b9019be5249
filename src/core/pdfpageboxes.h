#pragma once

#include "pagedetails.h"

#include <QByteArray>

#include <vector>

namespace poppler {
class document;
}

namespace tallivo {

// Appends each page's visible box of an open, unlocked document: the
// CropBox, else the MediaBox, each inherited through the page tree, kept
// within the MediaBox, turned by /Rotate, in millimetres. Colour stays
// unknown: only rendering would tell. Stops after kMaxDetailedPages pages of
// a file (tiffdirectories.h); the pages past it are counted but unknown.
void appendPdfPageBoxes(const poppler::document &doc, std::vector<PageInfo> *pages);

// Opens the PDF at a local path and does the same (nothing with `pages`
// null); returns its page count, 0 when it cannot be read or is locked.
qint32 readPdfPageBoxes(const QByteArray &localPath, std::vector<PageInfo> *pages);

} // namespace tallivo
