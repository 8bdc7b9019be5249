// Fuzz target for page counting as a run does it: the input is a file, named
// .pdf or .tif by its first byte, counted with and without page details.
// Nothing may crash, hang or leak, and the details must describe no more
// pages than were counted.
#include "pagecount.h"

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// A file in memory, as the count reads files: through a descriptor.
int memoryFile(const uint8_t *data, size_t size)
{
    const int fd = ::memfd_create("tallivo-fuzz", MFD_CLOEXEC);
    if (fd < 0)
        std::abort();
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            std::abort();
        done += size_t(n);
    }
    return fd;
}

// Inputs on which the PDF worker failed: crashed, or could not start. Told
// at the end, so that a run in which the worker never answers shows.
struct WorkerFailures
{
    long inputs = 0;
    long failed = 0;
    ~WorkerFailures()
    {
        std::fprintf(stderr, "fuzz_pagecount: the PDF library failed on %ld of %ld inputs\n",
                     failed, inputs);
    }
} g_workerFailures;

} // namespace

// Before the run, a PDF whose cross-reference offsets are wrong, which only
// the PDF library counts: the worker of this very build must answer, or
// every such input would only read "library failed".
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static const char pdf[] = "%PDF-1.4\n"
                              "1 0 obj <</Type/Catalog/Pages 2 0 R>> endobj\n"
                              "2 0 obj <</Type/Pages/Kids[3 0 R 4 0 R]/Count 2>> endobj\n"
                              "3 0 obj <</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]>> endobj\n"
                              "4 0 obj <</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]>> endobj\n"
                              "xref\n0 5\n"
                              "0000000000 65535 f \n"
                              "0000000001 00000 n \n"
                              "0000000002 00000 n \n"
                              "0000000003 00000 n \n"
                              "0000000004 00000 n \n"
                              "trailer <</Size 5/Root 1 0 R>>\n"
                              "startxref\n7\n%%EOF\n";
    const int fd = memoryFile(reinterpret_cast<const uint8_t *>(pdf), sizeof pdf - 1);
    const tallivo::PageCount count = tallivo::countOpenFile(fd, qint64(sizeof pdf - 1), "seed.pdf");
    ::close(fd);
    if (count.status != tallivo::CountStatus::Counted || count.pages != 2) {
        std::fprintf(stderr, "fuzz_pagecount: the PDF worker did not count the seed: %s\n",
                     qUtf8Printable(tallivo::countStatusText(count.status)));
        std::abort();
    }
    std::fprintf(stderr, "fuzz_pagecount: the PDF worker counted the seed's %d pages\n",
                 count.pages);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray name = (data[0] & 1) ? "input.pdf" : "input.tif";
    const int fd = memoryFile(data + 1, size - 1);
    --size;
    const tallivo::PageCount plain = tallivo::countOpenFile(fd, qint64(size), name);
    std::vector<tallivo::PageInfo> pages;
    const tallivo::PageCount detailed = tallivo::countOpenFile(fd, qint64(size), name, &pages);
    ::close(fd);
    ++g_workerFailures.inputs;
    if (plain.status == tallivo::CountStatus::LibraryFailed ||
        detailed.status == tallivo::CountStatus::LibraryFailed)
        ++g_workerFailures.failed;
    if (plain.pages < 0 || detailed.pages < 0 || qint64(pages.size()) > detailed.pages)
        std::abort();
    // Details come from the PDF reader, the count may come from the file's
    // own structure: they must agree whenever both give one.
    if (plain.pages > 0 && detailed.pages > 0 && plain.pages != detailed.pages)
        std::abort();
    return 0;
}
