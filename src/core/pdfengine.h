#pragma once

#include "pagedetails.h"
#include "pdfworkerprotocol.h"

#include <QtGlobal>

#include <vector>

namespace tallivo {

// What the PDF library makes of one open file.
struct LibraryCount
{
    pdfworker::Outcome outcome = pdfworker::Outcome::Damaged;
    qint32 pages = 0;
    std::vector<PageInfo> boxes;
};

// Opens the file `fd` of `size` bytes with the PDF library and asks it for
// the page count, and each page's box with `boxes`. Runs only in the PDF
// worker process, under its limits.
LibraryCount countWithLibrary(int fd, qint64 size, bool boxes);

} // namespace tallivo
