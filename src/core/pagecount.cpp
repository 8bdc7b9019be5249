#include "pagecount.h"

#include "blockreader.h"
#include "iopool.h"
#include "localpath.h"
#include "logging.h"
#include "pdfpageboxes.h"
#include "pdfstructure.h"
#include "tiffdirectories.h"
#include "walk.h"

#include <QCoreApplication>
#include <QSysInfo>
#include <QUrl>

#include <poppler-document.h>
#include <poppler-global.h>
#include <tiffio.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <optional>
#include <unistd.h>
#include <unordered_set>

namespace tallivo {

QString countStatusText(CountStatus status)
{
    switch (status) {
    case CountStatus::Counted:
        return {};
    case CountStatus::Locked:
        return QCoreApplication::translate("tallivo", "password-protected");
    case CountStatus::Damaged:
        return QCoreApplication::translate("tallivo", "damaged");
    case CountStatus::NotTiffOrPdf:
        return QCoreApplication::translate("tallivo", "not a TIFF or PDF file");
    case CountStatus::NotAFile:
        return QCoreApplication::translate("tallivo", "not a regular file");
    case CountStatus::Unreadable:
        return QCoreApplication::translate("tallivo", "unreadable");
    case CountStatus::Missing:
        return QCoreApplication::translate("tallivo", "missing");
    }
    return {};
}

namespace {

void silentPopplerMessage(const std::string &, void *) {}

// Both libraries print their complaints about damaged files to stderr unless
// told otherwise; a scan of a big share meets plenty of those.
void silenceLibraries()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
        TIFFSetErrorHandlerExt(nullptr);
        TIFFSetWarningHandlerExt(nullptr);
        poppler::set_debug_error_function(silentPopplerMessage, nullptr);
        // poppler-cpp builds its global tables when the first document opens
        // and frees them when the last one closes; one document kept for the
        // life of the process spares that for every file counted.
        static const char minimal[] = "%PDF-1.0\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
                                      "2 0 obj<</Type/Pages/Kids[]/Count 0>>endobj\n"
                                      "trailer<</Root 1 0 R>>\n%%EOF\n";
        static poppler::document *keeper =
            poppler::document::load_from_raw_data(minimal, sizeof minimal - 1);
        Q_UNUSED(keeper);
    });
}

CountStatus statusForErrno(int error)
{
    return error == ENOENT || error == ENOTDIR ? CountStatus::Missing : CountStatus::Unreadable;
}

// libtiff reads the header through these, from the blocks already read.
struct TiffSource
{
    BlockReader *reader;
    qint64 offset = 0;
};

tmsize_t tiffRead(thandle_t handle, void *buffer, tmsize_t size)
{
    auto *source = static_cast<TiffSource *>(handle);
    const QByteArrayView bytes = source->reader->viewUpTo(source->offset, qint64(size));
    if (bytes.isEmpty())
        return 0;
    std::memcpy(buffer, bytes.data(), size_t(bytes.size()));
    source->offset += bytes.size();
    return tmsize_t(bytes.size());
}

tmsize_t tiffWrite(thandle_t, void *, tmsize_t)
{
    return -1;
}

toff_t tiffSeek(thandle_t handle, toff_t offset, int whence)
{
    auto *source = static_cast<TiffSource *>(handle);
    qint64 base = 0;
    if (whence == SEEK_CUR)
        base = source->offset;
    else if (whence == SEEK_END)
        base = source->reader->size();
    if (offset > toff_t(std::numeric_limits<qint64>::max() - base))
        return toff_t(-1);
    source->offset = base + qint64(offset);
    return toff_t(source->offset);
}

int tiffClose(thandle_t)
{
    return 0;
}

toff_t tiffSize(thandle_t handle)
{
    return toff_t(static_cast<TiffSource *>(handle)->reader->size());
}

int tiffMap(thandle_t, void **, toff_t *)
{
    return 0;
}

void tiffUnmap(thandle_t, void *, toff_t) {}

std::optional<qint32> countTiff(BlockReader &reader, const QByteArray &path,
                                std::vector<PageInfo> *pages)
{
    const std::optional<TiffLayout> layout = tiffLayout(reader.viewUpTo(0, 16));
    if (!layout)
        return std::nullopt;
    // libtiff has the last word on whether this is a TIFF file; it reads
    // the header from the block already read, the directories are walked
    // here.
    TiffSource source{&reader};
    TIFF *tif = TIFFClientOpen(path.constData(), "rhm", &source, tiffRead, tiffWrite, tiffSeek,
                               tiffClose, tiffSize, tiffMap, tiffUnmap);
    if (!tif)
        return std::nullopt;
    TIFFClose(tif);
    return walkTiffPages(reader, *layout, pages);
}

bool hasPdfName(const QByteArray &path)
{
    return hasPdfExtension(path);
}

bool looksLikePdf(BlockReader &reader)
{
    return reader.viewUpTo(0, 1024).toByteArray().contains("%PDF-");
}

bool isPdfSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

// The decimal number that ends just before `end` (after white space), or -1.
qint64 numberBefore(QByteArrayView bytes, qsizetype *end)
{
    qsizetype i = *end;
    while (i > 0 && isPdfSpace(bytes[i - 1]))
        --i;
    const qsizetype last = i;
    while (i > 0 && bytes[i - 1] >= '0' && bytes[i - 1] <= '9')
        --i;
    if (i == last)
        return -1;
    *end = i;
    qint64 value = 0;
    for (qsizetype k = i; k < last; ++k)
        value = qMin<qint64>(value * 10 + (bytes[k] - '0'), Q_INT64_C(1) << 40);
    return value;
}

// Where `needle` next occurs in `bytes` from `from` on, or -1. glibc's
// memmem: QByteArrayView::indexOf is several times slower on the many
// short matches of a PDF.
qsizetype find(QByteArrayView bytes, QByteArrayView needle, qsizetype from)
{
    if (from >= bytes.size())
        return -1;
    const void *at = ::memmem(bytes.data() + from, size_t(bytes.size() - from), needle.data(),
                              size_t(needle.size()));
    return at ? static_cast<const char *>(at) - bytes.data() : -1;
}

// The PDF reader sizes its cross-reference table by the largest object
// number or /Size it meets, and a damaged file can claim billions: 82 bytes
// then cost seconds and 600 MB. Such claims are refused before it sees them.
bool claimsAbsurdObjectCount(QByteArrayView bytes)
{
    const qint64 limit = qMax<qint64>(1000000, bytes.size() / 8);
    for (qsizetype at = find(bytes, "obj", 0); at >= 0; at = find(bytes, "obj", at + 3)) {
        qsizetype end = at;
        if (numberBefore(bytes, &end) < 0)
            continue;
        if (numberBefore(bytes, &end) > limit)
            return true;
    }
    for (qsizetype at = find(bytes, "/Size", 0); at >= 0; at = find(bytes, "/Size", at + 5)) {
        qsizetype i = at + 5;
        while (i < bytes.size() && isPdfSpace(bytes[i]))
            ++i;
        qsizetype end = i;
        while (end < bytes.size() && bytes[end] >= '0' && bytes[end] <= '9')
            ++end;
        if (end > i && numberBefore(bytes, &end) > limit)
            return true;
    }
    return false;
}

// PDFs up to this size are read whole, in large reads, and parsed from memory
// instead of through the PDF reader's many small reads.
constexpr qint64 kWholeReadLimit = 16 * 1024 * 1024;

PageCount countPdf(BlockReader &reader, int fd, const QByteArray &path,
                   std::vector<PageInfo> *pages)
{
    // The file's own structure first: a few reads near its end, where the
    // PDF reader would parse the whole cross-reference section. Page sizes
    // need the reader.
    if (!pages) {
        if (const std::optional<qint32> structural = structuralPdfPageCount(reader))
            return {*structural, CountStatus::Counted};
    }
    std::unique_ptr<poppler::document> doc;
    QByteArray bytes;
    ParseSlot slot;
    if (reader.size() <= kWholeReadLimit) {
        bytes.resize(reader.size());
        if (!reader.readInto(0, reader.size(), bytes.data()))
            return {0, CountStatus::Unreadable};
        if (claimsAbsurdObjectCount(bytes)) {
            qCWarning(lcCore, "%s: not counted: claims an impossible number of objects",
                      qUtf8Printable(displayPath(path)));
            return {0, CountStatus::Damaged};
        }
        doc.reset(poppler::document::load_from_raw_data(bytes.constData(), int(bytes.size())));
    } else {
        // The descriptor's own name: the path may be longer than a path may be.
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        doc.reset(poppler::document::load_from_file(self));
    }
    if (!doc)
        return {0, CountStatus::Damaged};
    // Asking a locked document for its pages crashes the reader.
    if (doc->is_locked())
        return {0, CountStatus::Locked};
    const int count = doc->pages();
    if (count <= 0)
        return {0, CountStatus::Damaged};
    if (pages)
        appendPdfPageBoxes(*doc, pages);
    return {qint32(count), CountStatus::Counted};
}

} // namespace

BlockSizes blockSizesFor(int fd, const FileStatus &status)
{
    return isRemoteFileSystem(fd, status.device) ? BlockSizes::remote() : BlockSizes::local();
}

PageCount countOpenFile(int fd, qint64 size, const QByteArray &path, std::vector<PageInfo> *pages,
                        BlockSizes sizes)
{
    silenceLibraries();
    BlockReader reader(fd, size, {}, sizes);
    if (const auto images = countTiff(reader, path, pages)) {
        if (*images > 0)
            return {*images, CountStatus::Counted};
        if (!hasPdfName(path))
            return {0, CountStatus::Damaged};
    }
    if (!hasPdfName(path))
        return {0, CountStatus::NotTiffOrPdf};
    PageCount count = countPdf(reader, fd, path, pages);
    if (count.status == CountStatus::Damaged && !looksLikePdf(reader))
        count.status = CountStatus::NotTiffOrPdf;
    return count;
}

MeasuredFile measureFile(const QByteArray &path, EntryType hint, std::vector<PageInfo> *pages)
{
    MeasuredFile measured;
    if (hint != EntryType::File) {
        // Never open what may be a FIFO or a device: look first.
        measured.status = statusOf(path);
        if (!measured.status) {
            measured.count.status = statusForErrno(errno);
            return measured;
        }
        if (!measured.status->isRegular()) {
            measured.count.status = CountStatus::NotAFile;
            return measured;
        }
    }
    // O_NONBLOCK: should a FIFO have taken the file's place, the open does
    // not wait for a writer.
    FileDescriptor fd(openPath(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        const int error = errno;
        measured.count.status = statusForErrno(error);
        if (measured.count.status == CountStatus::Unreadable)
            qCWarning(lcCore, "cannot read %s: %s", qUtf8Printable(displayPath(path)),
                      std::strerror(error));
        if (!measured.status)
            measured.status = statusOf(path);
        return measured;
    }
    measured.status = statusOf(fd.get());
    if (!measured.status) {
        measured.count.status = CountStatus::Unreadable;
        return measured;
    }
    if (!measured.status->isRegular()) {
        measured.count.status = CountStatus::NotAFile;
        return measured;
    }
    measured.count = countOpenFile(fd.get(), measured.status->size, path, pages,
                                   blockSizesFor(fd.get(), *measured.status));
    return measured;
}

qint32 pageCount(const QUrl &url)
{
    if (url.isEmpty() || !url.isLocalFile())
        return 0;
    return measureFile(localPath(url)).count.pages;
}

qint32 countTiffDirectories(const QByteArray &path)
{
    silenceLibraries();
    const auto status = statusOf(path);
    if (!status || !status->isRegular())
        return 0;
    FileDescriptor fd(openPath(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        return 0;
    BlockReader reader(fd.get(), status->size, {}, blockSizesFor(fd.get(), *status));
    return countTiff(reader, path, nullptr).value_or(0);
}

qint32 countPdfPages(const QByteArray &path)
{
    silenceLibraries();
    const auto status = statusOf(path);
    if (!status || !status->isRegular())
        return 0;
    FileDescriptor fd(openPath(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        return 0;
    BlockReader reader(fd.get(), status->size, {}, blockSizesFor(fd.get(), *status));
    return countPdf(reader, fd.get(), path, nullptr).pages;
}

} // namespace tallivo
