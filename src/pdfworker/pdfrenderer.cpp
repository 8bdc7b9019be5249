#include "pdfrenderer.h"

#include <goo/GooString.h>
#include <PDFDoc.h>
#include <splash/SplashBitmap.h>
#include <SplashOutputDev.h>
#include <Stream.h>

// poppler's own classes, below its C++ wrapper: the wrapper makes a new
// output device, and so loads every font again, for each page it renders.
namespace tallivo {

PdfPageRenderer::PdfPageRenderer(const std::string &bytes, const std::string &path)
{
    // Opened as the wrapper opens it: empty passwords.
    const std::optional<GooString> none{GooString()};
    if (bytes.empty()) {
        m_doc = std::make_unique<PDFDoc>(std::make_unique<GooString>(path), none, none);
    } else {
        auto *stream = new MemStream(bytes.data(), 0, Goffset(bytes.size()), Object(objNull));
        m_doc = std::make_unique<PDFDoc>(stream, none, none);
    }
    if (!m_doc->isOk()) {
        m_doc.reset();
        return;
    }
    SplashColor paper;
    paper[0] = paper[1] = paper[2] = 0xff;
    // The wrapper's settings for 32-bit images and no hints; its bitmap
    // holds the pixels as blue, green, red and an unused byte.
    m_output = std::make_unique<SplashOutputDev>(splashModeXBGR8, 4, false, paper, true,
                                                 splashThinLineDefault);
    m_output->setFontAntialias(false);
    m_output->setVectorAntialias(false);
    m_output->setFreeTypeHinting(false, false);
    m_output->startDoc(m_doc.get());
}

PdfPageRenderer::~PdfPageRenderer()
{
    // The device refers to the document's fonts.
    m_output.reset();
    m_doc.reset();
}

int PdfPageRenderer::pages() const
{
    return m_doc ? m_doc->getNumPages() : -1;
}

bool PdfPageRenderer::hasPage(int index) const
{
    return m_doc && index >= 0 && index < m_doc->getNumPages() && m_doc->getPage(index + 1);
}

RenderedPage PdfPageRenderer::render(int index, double dpi)
{
    RenderedPage page;
    // A page that cannot be read would leave the last page's pixels.
    if (!hasPage(index))
        return page;
    // No copy of the cross-reference table: this process renders one page
    // at a time.
    m_doc->displayPageSlice(m_output.get(), index + 1, dpi, dpi, 0, false, true, false, -1, -1, -1,
                            -1, nullptr, nullptr, nullptr, nullptr, false);
    SplashBitmap *bitmap = m_output->getBitmap();
    if (!bitmap || bitmap->getMode() != splashModeXBGR8 || !bitmap->getDataPtr())
        return page;
    page.data = bitmap->getDataPtr();
    page.width = bitmap->getWidth();
    page.height = bitmap->getHeight();
    page.bytesPerRow = bitmap->getRowSize();
    return page;
}

} // namespace tallivo
