// Fuzz target for the colour classes of PDF pages, in process: the page
// scan over the file's objects and content streams, and the rendering of
// the pages it leaves undecided. Nothing may crash, hang or leak, and there
// must be one class per page.
#include "pdfcolour.h"

#include <poppler-document.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    std::unique_ptr<poppler::document> doc(
        poppler::document::load_from_raw_data(bytes.data(), int(bytes.size())));
    if (!doc || doc->is_locked())
        return 0;
    // A few pages are enough to reach every path; the limit keeps runs short.
    const int pages = std::min(doc->pages(), 8);
    const std::vector<tallivo::ColourClass> classes =
        tallivo::classifyPdfColours(*doc, bytes, {}, pages, tallivo::processCpuSeconds() + 10);
    if (int(classes.size()) != std::max(pages, 0))
        std::abort();
    return 0;
}
