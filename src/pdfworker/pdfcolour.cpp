#include "pdfcolour.h"
#include "pdfcolourscan.h"

#include "pdfrenderer.h"

#include <poppler-document.h>

#include <qpdf/QPDFAnnotationObjectHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <algorithm>
#include <cmath>
#include <memory>

// Each page's class: from its operators where they are certain, otherwise
// from its rendering.
namespace tallivo {
using namespace pdfcolour;
namespace {

bool renderedInColour(PdfPageRenderer &renderer, int index, bool *greyPixels, double minAreaMm2,
                      double dpi = kColourDpi)
{
    const RenderedPage image = renderer.render(index, dpi);
    if (!image.data)
        return false;
    const uchar *data = image.data;
    const int width = image.width;
    const int height = image.height;
    const int stride = image.bytesPerRow;
    // The same area at any resolution.
    const int enough = minColourPixels(minAreaMm2, dpi);
    if (countChromaticPixels(data, width, height, stride, enough) >= enough)
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

// Whether an annotation with these flags prints and shows on a screen
// differently.
bool printedDifferently(int flags)
{
    if (flags & kFlagHidden)
        return false;
    return !(flags & kFlagPrint) || (flags & kFlagNoView);
}

// A page box as a rectangle, or an empty one.
Box boxOf(QPDFObjectHandle array)
{
    if (!array.isArray() || array.getArrayNItems() != 4)
        return {};
    double v[4];
    for (int i = 0; i < 4; ++i) {
        QPDFObjectHandle n = array.getArrayItem(i);
        if (!n.isNumber())
            return {};
        v[i] = numberValue(n);
    }
    return {std::min(v[0], v[2]), std::min(v[1], v[3]), std::max(v[0], v[2]), std::max(v[1], v[3])};
}

// Where the page's colour may certainly show: its CropBox within its
// MediaBox, as rendered. Empty where colour is not sought on this page.
Box visibleArea(QPDFPageObjectHelper &page)
{
    // A page group blends in its own colour space, which may be grey.
    QPDFObjectHandle group = page.getObjectHandle().getKey("/Group");
    if (!group.isNull()) {
        QPDFObjectHandle cs = group.isDictionary() ? group.getKey("/CS") : group;
        if (!cs.isNull() &&
            !(cs.isName() && (cs.getName() == "/DeviceRGB" || cs.getName() == "/DeviceCMYK")))
            return {};
    }
    return boxOf(page.getCropBox()).meet(boxOf(page.getMediaBox()));
}

} // namespace

struct PdfColourClassifier::Private
{
    poppler::document &doc;
    QPDF pdf;
    std::vector<QPDFPageObjectHelper> structure;
    bool repaired = false;
    bool seekColour = false;
    const std::string &bytes;
    const std::string path;
    // Made when the first page needs rendering, and kept for the rest.
    std::unique_ptr<PdfPageRenderer> renderer;
    std::unique_ptr<PdfPageRenderer> printRenderer;
    std::string printBytes;
    bool printCopyTried = false;
    std::map<QPDFObjGen, bool> type3Cache;
    std::map<QPDFObjGen, PageState::FontFacts> fonts;
    double minAreaMm2 = kDefaultColourMinArea;

    Private(poppler::document &d, const std::string &b, const std::string &p, double area)
        : doc(d)
        , bytes(b)
        , path(p)
        , minAreaMm2(isValidColourMinArea(area) ? area : kDefaultColourMinArea)
    {
    }
    ColourClass classify(int i, ColourStats &counted);
};

PdfColourClassifier::PdfColourClassifier(poppler::document &doc, const std::string &bytes,
                                         const std::string &path, double minAreaMm2)
    : d(std::make_unique<Private>(doc, bytes, path, minAreaMm2))
{
    // The page structure, where it can be read.
    QPDF &pdf = d->pdf;
    try {
        pdf.setSuppressWarnings(true);
        if (bytes.empty())
            pdf.processFile(path.c_str());
        else
            pdf.processMemoryFile("page", bytes.data(), bytes.size());
        d->structure = QPDFPageDocumentHelper(pdf).getAllPages();
        d->repaired = !pdf.getWarnings().empty();
    } catch (...) {
        d->structure.clear();
    }
    // Pages the two readers do not agree on are rendered, every one.
    if (d->structure.size() != size_t(doc.pages()))
        d->structure.clear();
    // Colour that shows is sought in the operators unless optional content
    // may hide some of it.
    try {
        d->seekColour = !d->structure.empty() && !pdf.getRoot().hasKey("/OCProperties");
    } catch (...) {
        d->seekColour = false;
    }
}

PdfColourClassifier::~PdfColourClassifier() = default;

std::vector<ColourClass> PdfColourClassifier::classify(int first, int end, double cpuDeadline,
                                                       ColourStats *stats)
{
    ColourStats local;
    ColourStats &counted = stats ? *stats : local;
    first = std::max(first, 0);
    end = std::max(end, first);
    std::vector<ColourClass> classes(size_t(end - first), ColourClass::Unknown);
    const int pages = std::min(end, d->doc.pages());
    for (int i = first; i < pages; ++i) {
        if (processCpuSeconds() > cpuDeadline) {
            counted.unknown += pages - i;
            break;
        }
        classes[size_t(i - first)] = d->classify(i, counted);
    }
    return classes;
}

std::vector<ColourClass> classifyPdfColours(poppler::document &doc, const std::string &bytes,
                                            const std::string &path, int maxPages,
                                            double cpuDeadline, ColourStats *stats,
                                            double minAreaMm2)
{
    const int pages = std::max(std::min(doc.pages(), maxPages), 0);
    if (pages == 0)
        return {};
    return PdfColourClassifier(doc, bytes, path, minAreaMm2).classify(0, pages, cpuDeadline, stats);
}

ColourClass PdfColourClassifier::Private::classify(int i, ColourStats &counted)
{
    PageState state;
    state.minShownArea = kMinShownArea * (minAreaMm2 / kDefaultColourMinArea);
    // A font is read once for the document: embedded programs are decoded
    // to learn their glyphs.
    state.fonts = std::move(fonts);
    bool haveScan = false;
    bool hiddenOnPrint = false;
    bool shownColour = false;
    if (!structure.empty()) {
        try {
            QPDFPageObjectHelper &page = structure[size_t(i)];
            // What the library had to repair or could not read is
            // rendered rather than trusted.
            pdf.getWarnings();
            QPDFObjectHandle resources = page.getAttribute("/Resources", false);
            GraphicsState start;
            if (seekColour) {
                start.placed = true;
                start.clip = visibleArea(page);
                start.clipExact = true;
                state.seekColour = !start.clip.empty();
            }
            Scanner scanner(state, resources, 0, start, type3Cache);
            QPDFObjectHandle contents = page.getObjectHandle().getKey("/Contents");
            if (contents.isStream() || contents.isArray())
                scanner.scan(contents);
            // Annotations that print are drawn over the content. Their
            // appearances are scanned for colour only as before.
            if (state.seekColour && !state.shown.empty()) {
                for (QPDFAnnotationObjectHelper &a : page.getAnnotations()) {
                    if ((a.getFlags() & (kFlagPrint | kFlagHidden)) == kFlagPrint)
                        state.cover(boxOf(a.getObjectHandle().getKey("/Rect")));
                }
            }
            shownColour = state.seekColour && !state.broken && !state.noShownColour &&
                          state.shownWeight() >= kShownWeight;
            state.seekColour = false;
            if (!state.unsure) {
                const AnnotationScan annotations = scanAnnotations(page, state, type3Cache);
                state.unsure = state.unsure || annotations.unsure;
                hiddenOnPrint = annotations.hiddenOnPrint;
            } else {
                for (QPDFAnnotationObjectHelper &a : page.getAnnotations())
                    hiddenOnPrint =
                        hiddenOnPrint || (printedDifferently(a.getFlags()) && !drawsNothing(a));
            }
            if (!pdf.getWarnings().empty() || repaired) {
                state.unsure = true;
                shownColour = false;
            }
            haveScan = true;
        } catch (...) {
            state.unsure = true;
            shownColour = false;
        }
    }
    fonts = std::move(state.fonts);
    if (haveScan && shownColour) {
        // Colour certainly shows: no need to render.
        ++counted.scanned;
        return ColourClass::Colour;
    }
    if (haveScan && !state.unsure) {
        ++counted.scanned;
        return state.greyImage ? ColourClass::Grey : ColourClass::BlackWhite;
    }

    if (!renderer)
        renderer = std::make_unique<PdfPageRenderer>(bytes, path);
    PdfPageRenderer *source = renderer.get();
    if (hiddenOnPrint) {
        if (!printCopyTried) {
            printCopyTried = true;
            ++counted.printCopies;
            printBytes = printableCopy(pdf);
            if (!printBytes.empty())
                printRenderer = std::make_unique<PdfPageRenderer>(printBytes, std::string());
            if (printRenderer && printRenderer->pages() != doc.pages())
                printRenderer.reset();
        }
        if (printRenderer)
            source = printRenderer.get();
    }
    if (source->pages() != doc.pages() || !source->hasPage(i)) {
        ++counted.unknown;
        return ColourClass::Unknown;
    }
    bool greyPixels = false;
    bool colour = renderedInColour(*source, i, haveScan ? nullptr : &greyPixels, minAreaMm2);
    // Thin colour may fall between the pixels, or under paint rounded
    // onto them: a finer grid keeps it, as print does.
    if (!colour && haveScan && state.thinColour)
        colour = renderedInColour(*source, i, nullptr, minAreaMm2, kFineColourDpi);
    ++counted.rendered;
    if (colour)
        return ColourClass::Colour;
    if (haveScan ? state.toneImage : greyPixels)
        return ColourClass::Grey;
    return ColourClass::BlackWhite;
}

} // namespace tallivo
