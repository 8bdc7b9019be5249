#pragma once

#include <QtGlobal>

#include <memory>
#include <string>

class PDFDoc;
class SplashOutputDev;

namespace tallivo {

// One page's pixels, 32 bits each (blue, green, red, unused), valid until
// the next rendering.
struct RenderedPage
{
    const uchar *data = nullptr;
    int width = 0;
    int height = 0;
    int bytesPerRow = 0;
};

// Renders the pages of one document as a screen shows them, without
// anti-aliasing, on white, clipped to the CropBox: as poppler-cpp's
// page_renderer does with its defaults, but with one output device for the
// whole document, so that its fonts are loaded once rather than for every
// page. Runs only in the PDF worker process.
class PdfPageRenderer
{
public:
    // The document held in `bytes`, which outlives this, or read from
    // `path` when `bytes` is empty.
    PdfPageRenderer(const std::string &bytes, const std::string &path);
    ~PdfPageRenderer();
    PdfPageRenderer(const PdfPageRenderer &) = delete;
    PdfPageRenderer &operator=(const PdfPageRenderer &) = delete;

    // The page count, or -1 when the document cannot be read (or is locked).
    int pages() const;
    // Whether page `index` (from 0) can be read.
    bool hasPage(int index) const;
    // Page `index` at `dpi`; no data when it cannot be rendered.
    RenderedPage render(int index, double dpi);

private:
    std::unique_ptr<PDFDoc> m_doc;
    std::unique_ptr<SplashOutputDev> m_output;
};

} // namespace tallivo
