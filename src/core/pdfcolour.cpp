#include "pdfcolour.h"
#include "pdfcolourscan.h"

#include <poppler-document.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <qpdf/QPDFAnnotationObjectHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <algorithm>
#include <memory>

// Each page's class: from its operators where they are certain, otherwise
// from its rendering.
namespace tallivo {
using namespace pdfcolour;
namespace {

bool renderedInColour(const poppler::page_renderer &renderer, poppler::page *page, bool *greyPixels)
{
    if (!page)
        return false;
    const poppler::image image = renderer.render_page(page, kColourDpi, kColourDpi);
    if (!image.is_valid() || image.format() != poppler::image::format_argb32)
        return false;
    const uchar *data = reinterpret_cast<const uchar *>(image.const_data());
    const int width = image.width();
    const int height = image.height();
    const int stride = image.bytes_per_row();
    if (countChromaticPixels(data, width, height, stride) >= kMinColourPixels)
        return true;
    if (greyPixels) {
        // Without the page's operators to go by: Grey when a tenth of the
        // page is in mid-tones.
        qint64 mid = 0;
        for (int y = 0; y < height; ++y) {
            const uchar *p = data + qint64(y) * stride;
            for (int x = 0; x < width; ++x, p += 4)
                mid += p[1] >= 32 && p[1] <= 223;
        }
        *greyPixels = mid * 10 >= qint64(width) * height;
    }
    return false;
}

} // namespace

std::vector<ColourClass> classifyPdfColours(poppler::document &doc, const std::string &bytes,
                                            const std::string &path, int maxPages,
                                            double cpuDeadline, ColourStats *stats)
{
    ColourStats local;
    ColourStats &counted = stats ? *stats : local;
    const int pages = std::min(doc.pages(), maxPages);
    std::vector<ColourClass> classes(size_t(std::max(pages, 0)), ColourClass::Unknown);
    if (pages <= 0)
        return classes;

    // The page structure, where it can be read.
    QPDF pdf;
    std::vector<QPDFPageObjectHelper> structure;
    try {
        pdf.setSuppressWarnings(true);
        if (bytes.empty())
            pdf.processFile(path.c_str());
        else
            pdf.processMemoryFile("page", bytes.data(), bytes.size());
        structure = QPDFPageDocumentHelper(pdf).getAllPages();
    } catch (...) {
        structure.clear();
    }
    // Pages the two readers do not agree on are rendered, every one.
    if (structure.size() != size_t(doc.pages()))
        structure.clear();

    poppler::page_renderer renderer;
    renderer.set_image_format(poppler::image::format_argb32);
    std::unique_ptr<poppler::document> printDoc;
    std::string printBytes;
    bool printCopyTried = false;
    std::map<QPDFObjGen, bool> type3Cache;

    for (int i = 0; i < pages; ++i) {
        if (processCpuSeconds() > cpuDeadline) {
            counted.unknown += pages - i;
            break;
        }
        PageState state;
        bool haveScan = false;
        bool hiddenOnPrint = false;
        if (!structure.empty()) {
            try {
                QPDFPageObjectHelper &page = structure[size_t(i)];
                // What the library had to repair or could not read is
                // rendered rather than trusted.
                pdf.getWarnings();
                QPDFObjectHandle resources = page.getAttribute("/Resources", false);
                Scanner scanner(state, resources, 0, GraphicsState{}, type3Cache);
                QPDFObjectHandle contents = page.getObjectHandle().getKey("/Contents");
                if (contents.isStream() || contents.isArray())
                    scanner.scan(contents);
                if (!state.unsure) {
                    const AnnotationScan annotations = scanAnnotations(page, state, type3Cache);
                    state.unsure = state.unsure || annotations.unsure;
                    hiddenOnPrint = annotations.hiddenOnPrint;
                } else {
                    for (QPDFAnnotationObjectHelper &a : page.getAnnotations())
                        hiddenOnPrint =
                            hiddenOnPrint || !(a.getFlags() & (kFlagPrint | kFlagHidden));
                }
                if (!pdf.getWarnings().empty())
                    state.unsure = true;
                haveScan = true;
            } catch (...) {
                state.unsure = true;
            }
        }
        if (haveScan && !state.unsure) {
            classes[size_t(i)] = state.greyImage ? ColourClass::Grey : ColourClass::BlackWhite;
            ++counted.scanned;
            continue;
        }

        poppler::document *source = &doc;
        if (hiddenOnPrint) {
            if (!printCopyTried) {
                printCopyTried = true;
                printBytes = printableCopy(pdf);
                if (!printBytes.empty())
                    printDoc.reset(poppler::document::load_from_raw_data(printBytes.data(),
                                                                         int(printBytes.size())));
                if (printDoc && (printDoc->is_locked() || printDoc->pages() != doc.pages()))
                    printDoc.reset();
            }
            if (printDoc)
                source = printDoc.get();
        }
        std::unique_ptr<poppler::page> page(source->create_page(i));
        if (!page) {
            ++counted.unknown;
            continue;
        }
        bool greyPixels = false;
        const bool colour =
            renderedInColour(renderer, page.get(), haveScan ? nullptr : &greyPixels);
        ++counted.rendered;
        if (colour)
            classes[size_t(i)] = ColourClass::Colour;
        else if (haveScan ? state.toneImage : greyPixels)
            classes[size_t(i)] = ColourClass::Grey;
        else
            classes[size_t(i)] = ColourClass::BlackWhite;
    }
    return classes;
}

} // namespace tallivo
