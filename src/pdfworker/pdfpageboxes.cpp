#include "pdfpageboxes.h"

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

#include <memory>

namespace tallivo {

void appendPdfPageBoxes(const poppler::document &doc, std::vector<PageInfo> *pages)
{
    // Asking a locked document for its pages crashes the reader.
    if (!pages || doc.is_locked())
        return;
    const int count = qMin(doc.pages(), kMaxDetailedPages);
    pages->reserve(pages->size() + size_t(qMax(count, 0)));
    for (int i = 0; i < count; ++i) {
        PageInfo info;
        const std::unique_ptr<poppler::page> page(doc.create_page(i));
        if (page) {
            // poppler inherits both boxes, falls back to the MediaBox and
            // clips the CropBox to it; /Rotate values that are no multiple
            // of 90 read as upright, as the format requires.
            const poppler::rectf box = page->page_rect(poppler::crop_box);
            double w = box.width() * kMmPerPoint;
            double h = box.height() * kMmPerPoint;
            const auto turn = page->orientation();
            if (turn == poppler::page::landscape || turn == poppler::page::seascape)
                std::swap(w, h);
            if (w > 0 && h > 0 && w <= SizeClass::kMaxSideMm && h <= SizeClass::kMaxSideMm) {
                info.widthMm = float(w);
                info.heightMm = float(h);
            }
        }
        pages->push_back(info);
    }
}

} // namespace tallivo
