// Fuzz target for the structural PDF page counter: it must never crash,
// and where it answers, poppler must give the same count, and the same size
// for every page whose box it reads.
#include "blockreader.h"
#include "pdfpageboxes.h"
#include "pdfstructure.h"
#include "tiffdirectories.h"

#include <QByteArray>

#include <poppler-document.h>
#include <poppler-global.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

void quiet(const std::string &, void *) {}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool silenced = [] {
        poppler::set_debug_error_function(quiet, nullptr);
        return true;
    }();
    Q_UNUSED(silenced);

    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    // No file: the whole input is the head the reader was handed.
    tallivo::BlockReader reader(-1, bytes.size(), bytes);
    std::vector<tallivo::PageInfo> boxes;
    const tallivo::PdfStructureResult result = tallivo::examinePdfStructure(reader, &boxes);
    const std::optional<qint32> pages = result.pages;
    if (!pages)
        return 0;
    if (result.boxesRead && qint64(boxes.size()) != qMin(*pages, tallivo::kMaxDetailedPages))
        std::abort();
    if (*pages <= 0)
        std::abort();
    std::unique_ptr<poppler::document> doc(
        poppler::document::load_from_raw_data(bytes.constData(), int(bytes.size())));
    // A count poppler would not give is the one thing this reader must never do.
    if (!doc || doc->is_locked() || doc->pages() != *pages)
        std::abort();
    if (result.boxesRead) {
        std::vector<tallivo::PageInfo> library;
        tallivo::appendPdfPageBoxes(*doc, &library);
        for (size_t i = 0; i < boxes.size() && i < library.size(); ++i) {
            // Where poppler could not read the page at all, it has no size
            // to hold against ours.
            if (boxes[i].hasSize() && library[i].hasSize() &&
                (std::abs(boxes[i].widthMm - library[i].widthMm) > 0.01f ||
                 std::abs(boxes[i].heightMm - library[i].heightMm) > 0.01f))
                std::abort();
        }
    }
    return 0;
}
