#include "pdfengine.h"

#include "pdfcolour.h"
#include "pdfpageboxes.h"

#include <poppler-document.h>
#include <poppler-global.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unistd.h>

namespace tallivo {
namespace {

void silentMessage(const std::string &, void *) {}

void prepareLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] {
        poppler::set_debug_error_function(silentMessage, nullptr);
        // poppler-cpp builds its global tables when the first document opens
        // and frees them when the last one closes; one document kept for the
        // life of the process spares that for every file.
        static const char minimal[] = "%PDF-1.0\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
                                      "2 0 obj<</Type/Pages/Kids[]/Count 0>>endobj\n"
                                      "trailer<</Root 1 0 R>>\n%%EOF\n";
        static poppler::document *keeper =
            poppler::document::load_from_raw_data(minimal, sizeof minimal - 1);
        Q_UNUSED(keeper);
    });
}

// Files up to this size are read whole, in large reads, and parsed from
// memory instead of through the library's many small reads.
constexpr qint64 kWholeReadLimit = 16 * 1024 * 1024;

bool readWhole(int fd, qint64 size, std::string &bytes)
{
    bytes.resize(size_t(size));
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, bytes.data() + done, size_t(size - done), off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    bytes.resize(size_t(done));
    return done > 0;
}

} // namespace

LibraryCount countWithLibrary(int fd, qint64 size, LibraryRequest request)
{
    prepareLibrary();
    LibraryCount count;
    std::unique_ptr<poppler::document> doc;
    std::string bytes;
    if (size <= kWholeReadLimit) {
        if (!readWhole(fd, size, bytes))
            return count;
        doc.reset(poppler::document::load_from_raw_data(bytes.data(), int(bytes.size())));
    } else {
        // The descriptor's own name: the worker never sees the file's path.
        doc.reset(poppler::document::load_from_file("/proc/self/fd/" + std::to_string(fd)));
    }
    if (!doc)
        return count;
    // Asking a locked document for its pages crashes the library.
    if (doc->is_locked()) {
        count.outcome = pdfworker::Outcome::Locked;
        return count;
    }
    const int pages = doc->pages();
    if (pages <= 0)
        return count;
    count.outcome = pdfworker::Outcome::Counted;
    count.pages = qint32(pages);
    if ((request.boxes || request.colour) && !request.colourOnly)
        appendPdfPageBoxes(*doc, &count.boxes);
    if (request.counted)
        request.counted(count);
    if (request.colour) {
        const std::string path =
            bytes.empty() ? "/proc/self/fd/" + std::to_string(fd) : std::string();
        const double minArea =
            request.colourMinArea > 0 ? request.colourMinArea : kDefaultColourMinArea;
        if (request.nextPages) {
            // Read once the first pages are asked for, and kept for the rest.
            std::optional<PdfColourClassifier> classifier;
            int first = 0;
            int end = 0;
            while (request.nextPages(&first, &end)) {
                if (!classifier)
                    classifier.emplace(*doc, bytes, path, minArea);
                ColourStats stats;
                const std::vector<ColourClass> classes =
                    classifier->classify(first, end, request.colourCpuDeadline, &stats);
                request.decided(classes, stats);
            }
            return count;
        }
        ColourStats stats;
        const std::vector<ColourClass> classes =
            PdfColourClassifier(*doc, bytes, path, minArea)
                .classify(0, std::min(pages, kMaxDetailedPages), request.colourCpuDeadline, &stats);
        for (size_t i = 0; i < classes.size() && i < count.boxes.size(); ++i)
            count.boxes[i].colour = classes[i];
        count.coloursScanned = stats.scanned;
        count.coloursRendered = stats.rendered;
    }
    return count;
}

} // namespace tallivo
