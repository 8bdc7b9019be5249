// Fuzz target for page counting as a run does it: the input is a file, named
// .pdf or .tif by its first byte, counted with and without page details.
// Nothing may crash, hang or leak, and the details must describe no more
// pages than were counted.
#include "pagecount.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray name = (data[0] & 1) ? "input.pdf" : "input.tif";
    ++data;
    --size;
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
    const tallivo::PageCount plain = tallivo::countOpenFile(fd, qint64(size), name);
    std::vector<tallivo::PageInfo> pages;
    const tallivo::PageCount detailed = tallivo::countOpenFile(fd, qint64(size), name, &pages);
    ::close(fd);
    if (plain.pages < 0 || detailed.pages < 0 || qint64(pages.size()) > detailed.pages)
        std::abort();
    // Details come from the PDF reader, the count may come from the file's
    // own structure: they must agree whenever both give one.
    if (plain.pages > 0 && detailed.pages > 0 && plain.pages != detailed.pages)
        std::abort();
    return 0;
}
