#include "pdfcolour.h"

#include <algorithm>
#include <cmath>
#include <ctime>

// The parts of the colour rule that read no PDF: the pixel test and the CPU
// clock, shared by the page scan and the build without it.
namespace tallivo {

int minColourPixels(double minAreaMm2, double dpi)
{
    // As a multiple of the default, so that the default gives the rule's
    // own counts exactly (4 at 50 dpi, 36 at 150).
    const double scale = dpi / kColourDpi;
    const double pixels = kMinColourPixels * (minAreaMm2 / kDefaultColourMinArea) * scale * scale;
    if (!(pixels > 1))
        return 1;
    return int(std::min(std::ceil(pixels - 1e-9), 1e9));
}

int countChromaticPixels(const uchar *pixels, int width, int height, int bytesPerRow, int enough)
{
    int found = 0;
    for (int y = 0; y < height; ++y) {
        const uchar *p = pixels + qint64(y) * bytesPerRow;
        for (int x = 0; x < width; ++x, p += 4) {
            const int hi = std::max({p[0], p[1], p[2]});
            const int lo = std::min({p[0], p[1], p[2]});
            if (hi - lo > kChromaThreshold && ++found >= enough)
                return found;
        }
    }
    return found;
}

double processCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

} // namespace tallivo
