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
// a file (pagedetails.h); the pages past it are counted but unknown.
void appendPdfPageBoxes(const poppler::document &doc, std::vector<PageInfo> *pages);

} // namespace tallivo
