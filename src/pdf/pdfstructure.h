#pragma once

#include "pagedetails.h"

#include <QByteArrayView>
#include <QtGlobal>

#include <optional>
#include <vector>

namespace tallivo {

class BlockReader;

// The structural PDF reader. Its reference is poppler, the PDF library the
// worker processes run, as Debian 12 ships it (22.12, libpoppler126): where
// this reader answers, poppler gives the same count, and wherever poppler
// would repair, recover or guess, this reader gives no answer instead. "The
// library" in this reader's comments is that poppler. The agreement is held
// by tests/pdf/tst_pdfstructure.cpp, which asks poppler-cpp beside it.
//
// Why the structural reader gave no count. Each one is a case where the PDF
// library would have to repair the file, or could count differently, so the
// caller asks the library instead.
enum class PdfStructureReason
{
    Counted,            // answered
    NoHeader,           // no "%PDF-" at the start of the file
    NoStartXref,        // no usable startxref near the end
    DamagedXref,        // a cross-reference section that does not parse, or a gap in it
    XrefLoop,           // /Prev or /XRefStm chains that come back on themselves
    Encrypted,          // encrypted, and a password or a decryption would be needed
    DamagedObject,      // an object that is missing, misplaced or does not parse
    Unsupported,        // a filter, predictor or layout this reader does not decode
    LimitExceeded,      // bigger or deeper than this reader is willing to go
    LinearizedMismatch, // the linearization /N and the page tree disagree
    PagesIsPage,        // the page tree root is a single /Page
    BadCount,           // /Count is not a positive integer
    CountAboveObjects,  // /Count exceeds the number of objects (trailer /Size)
    ReadFailed,         // the file could not be read
    ImpossibleClaim,    // an object number or /Size far beyond what the file can hold
};

struct PdfStructureResult
{
    std::optional<qint32> pages;
    PdfStructureReason reason = PdfStructureReason::Counted;
    // With boxes asked for: whether the page tree gave every page's box.
    bool boxesRead = false;
};

// The page count read from the PDF's own structure: startxref, the
// cross-reference sections, the trailer's /Root, the catalog's /Pages and its
// /Count. Answers only where every step is sound and the PDF library would
// give the same count without repairing anything; otherwise it says why not.
// With `boxes`, the page tree is walked as well and each page's visible box
// appended, as the PDF library reads it: the CropBox, else the MediaBox,
// inherited through the tree, kept within the MediaBox, turned by /Rotate;
// unknown where no MediaBox is given anywhere. Up to kMaxDetailedPages
// pages; boxesRead is false, and `boxes` untouched, when the tree is not
// sound enough to be sure of them.
PdfStructureResult examinePdfStructure(BlockReader &reader, std::vector<PageInfo> *boxes = nullptr);

// Whether `bytes` hold an object header ("12 0 obj") at the start of a line.
bool containsObjectHeader(QByteArrayView bytes);

// Whether the PDF library, repairing the file by scanning it for object
// headers at the starts of lines, would meet an object number far beyond
// what the file's length can hold, and size its tables by it: seconds and
// hundreds of megabytes for a few bytes. Reads the whole file.
bool repairClaimsTooManyObjects(BlockReader &reader);

} // namespace tallivo
