#pragma once

#include "pagedetails.h"
#include "pdfcolour.h"
#include "pdfworkerprotocol.h"

#include <QtGlobal>

#include <functional>
#include <vector>

namespace tallivo {

// What the PDF library makes of one open file.
struct LibraryCount
{
    pdfworker::Outcome outcome = pdfworker::Outcome::Damaged;
    qint32 pages = 0;
    std::vector<PageInfo> boxes;
    int coloursScanned = 0;
    int coloursRendered = 0;
};

struct LibraryRequest
{
    bool boxes = false;
    bool colour = false;
    // Seconds of the process's CPU time after which colour classes are no
    // longer worked out (the pages left stay Unknown), so that the colours
    // found so far arrive within the worker's limit.
    double colourCpuDeadline = 0;
    // The colour tolerance, in mm^2.
    double colourMinArea = 0;
    // Only the colours: no boxes (the count comes all the same).
    bool colourOnly = false;
    // Called with the count and the boxes (colours Unknown) before the
    // colour pass begins: a pass that never ends costs only the colours.
    std::function<void(const LibraryCount &)> counted;
    // When set, the colour pass decides the pages these ask for, range by
    // range, until `nextPages` says no more, and hands each range's classes
    // to `decided` instead of the boxes.
    std::function<bool(int *first, int *end)> nextPages;
    std::function<void(const std::vector<ColourClass> &, const ColourStats &)> decided;
};

// Opens the file `fd` of `size` bytes with the PDF library and asks it for
// the page count, and, as asked, each page's box and colour class (one
// record per page, up to kMaxDetailedPages, with either). Runs only in the
// PDF worker process, under its limits.
LibraryCount countWithLibrary(int fd, qint64 size, LibraryRequest request);

} // namespace tallivo
