#pragma once

#include "pagedetails.h"

#include <QtGlobal>

#include <vector>

class QUrl;

namespace tallivo {

// The pages of a file with their sizes and colours, read the way
// pageCount() counts them: the TIFF image directories, else the pages
// of a PDF for a name ending in ".pdf" (any case). Returns the page count (0
// when neither reader gives one) and appends up to kMaxDetailedPages
// descriptions to `pages`; with `pages` null it only counts. Only regular
// files are opened. Safe to call from any thread.
qint32 readPageDetails(const QUrl &url, std::vector<PageInfo> *pages);

} // namespace tallivo
