#pragma once

#include "colourtolerance.h"
#include "pagedetails.h"

#include <QtGlobal>

#include <memory>
#include <string>
#include <vector>

namespace poppler {
class document;
}

namespace tallivo {

// The colour rule for PDF pages. A page is Colour when its printed form
// shows visible colour: its 50-dpi rendering (clipped to the CropBox, with
// the annotations that print and without those that do not) holds at least
// kMinColourPixels pixels whose strongest and weakest RGB channels differ
// by more than kChromaThreshold of 255. Otherwise it is Grey when it draws a
// continuous-tone image (a grey scan), else B/W.
//
// Where the page's own operators prove it neutral, no rendering is needed:
// grey and black operators only (grey in any colour space: DeviceGray,
// CalGray, one-channel ICC, RGB with equal channels, CMYK with no cyan,
// magenta and yellow or with full black, /All and /Black separations),
// images in grey colour spaces or grey palettes, form XObjects and
// appearance streams of the same kind, and no transfer functions.
inline constexpr double kColourDpi = 50.0;
inline constexpr int kChromaThreshold = 26;
// 4 pixels at 50 dpi: about 1 mm^2, the default colour tolerance. A
// tolerance set otherwise scales the pixel count with its area.
inline constexpr int kMinColourPixels = 4;
static_assert(kDefaultColourMinArea ==
              kMinColourPixels * (25.4 / kColourDpi) * (25.4 / kColourDpi));
// Pages with colour thinner than two pixels that come out without colour
// are rendered again this fine, and the same area decides.
inline constexpr double kFineColourDpi = 150.0;

// How many pixels rendered at `dpi` cover `minAreaMm2`: kMinColourPixels
// at kColourDpi for the default, at least one.
int minColourPixels(double minAreaMm2, double dpi);

// How many pixels of a 32-bit image (any channel order, the fourth byte
// ignored) are chromatic by the rule above; stops counting at `enough`.
int countChromaticPixels(const uchar *pixels, int width, int height, int bytesPerRow,
                         int enough = kMinColourPixels);

// What the page's operators say, before any rendering.
enum class PageScan : quint8
{
    BlackWhite, // only grey and black painting, no continuous-tone image
    Grey,       // as B/W, with a continuous-tone grey image
    Unsure,     // colour may show: render it
};

struct ColourStats
{
    int scanned = 0;     // pages decided from their operators
    int rendered = 0;    // pages rendered
    int unknown = 0;     // pages left Unknown (damaged, or out of time)
    int printCopies = 0; // copies made for what prints (annotations' flags)
};

// Decides the colour classes of a document's pages, any range of them at a
// time, reading the document's structure once for all of them. `doc` and
// `bytes` (the document, or empty to read it from `path`) outlive it. Runs
// only in the PDF worker process.
class PdfColourClassifier
{
public:
    // Colour covering less than `minAreaMm2` does not count.
    PdfColourClassifier(poppler::document &doc, const std::string &bytes, const std::string &path,
                        double minAreaMm2 = kDefaultColourMinArea);
    ~PdfColourClassifier();
    PdfColourClassifier(const PdfColourClassifier &) = delete;
    PdfColourClassifier &operator=(const PdfColourClassifier &) = delete;

    // Pages [first, end), in order; those not reached by `cpuDeadline`
    // (seconds of the process's CPU time), or not in the document, stay
    // Unknown.
    std::vector<ColourClass> classify(int first, int end, double cpuDeadline,
                                      ColourStats *stats = nullptr);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// The colour class of each page of the document held in `bytes` (or read
// from `path` when `bytes` is empty), up to `maxPages` pages, in `doc`'s
// page order. Pages not reached by `cpuDeadline` (seconds of the process's
// CPU time) stay Unknown. Colour covering less than `minAreaMm2` does not
// count. Runs only in the PDF worker process.
std::vector<ColourClass> classifyPdfColours(poppler::document &doc, const std::string &bytes,
                                            const std::string &path, int maxPages,
                                            double cpuDeadline, ColourStats *stats = nullptr,
                                            double minAreaMm2 = kDefaultColourMinArea);

// This process's CPU time in seconds.
double processCpuSeconds();

} // namespace tallivo
