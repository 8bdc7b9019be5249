#include "pagecount.h"

#include "blockreader.h"
#include "iopool.h"
#include "localpath.h"
#include "logging.h"
#include "walk.h"

#include <QCoreApplication>
#include <QSysInfo>
#include <QUrl>

#include <poppler-document.h>
#include <poppler-global.h>
#include <tiffio.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <mutex>
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

class FileHandle
{
public:
    explicit FileHandle(int fd)
        : m_fd(fd)
    {
    }
    ~FileHandle()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

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

bool hasTiffMagic(BlockReader &reader)
{
    const QByteArrayView magic = reader.view(0, 4);
    if (magic.size() != 4)
        return false;
    const auto *m = reinterpret_cast<const uchar *>(magic.data());
    const bool little = m[0] == 'I' && m[1] == 'I' && m[3] == 0 && (m[2] == 42 || m[2] == 43);
    const bool big = m[0] == 'M' && m[1] == 'M' && m[2] == 0 && (m[3] == 42 || m[3] == 43);
    return little || big;
}

quint64 decode(const uchar *bytes, int width, bool bigEndian)
{
    quint64 value = 0;
    for (int i = 0; i < width; ++i) {
        const int shift = 8 * (bigEndian ? width - 1 - i : i);
        value |= quint64(bytes[i]) << shift;
    }
    return value;
}

// Follows the chain of image directories from the header. The first
// directory counts when its entry count and first entry can be read: a file
// cut off inside it still holds that image. Later ones are reached through
// next pointers that damaged files fill with garbage, so they count only
// when all their entries lie inside the file. An empty directory, or one the
// chain leads back to, ends the walk.
qint32 countDirectoryChain(BlockReader &reader, bool bigTiff, bool bigEndianFile)
{
    const int offsetWidth = bigTiff ? 8 : 4;
    const int countWidth = bigTiff ? 8 : 2;
    const int entryWidth = bigTiff ? 20 : 12;
    const quint64 fileSize = quint64(reader.size());
    auto value = [&](quint64 at, int width, quint64 *out) {
        if (at > quint64(std::numeric_limits<qint64>::max()))
            return false;
        const QByteArrayView bytes = reader.view(qint64(at), width);
        if (bytes.size() != width)
            return false;
        *out = decode(reinterpret_cast<const uchar *>(bytes.data()), width, bigEndianFile);
        return true;
    };

    quint64 offset = 0;
    if (!value(bigTiff ? 8 : 4, offsetWidth, &offset))
        return 0;
    std::unordered_set<quint64> seen;
    qint32 count = 0;
    quint64 entries = 0;
    quint64 firstEntry = 0;
    while (offset != 0 && count < INT32_MAX && seen.insert(offset).second) {
        if (!value(offset, countWidth, &entries))
            break;
        if (entries == 0 || entries > fileSize ||
            !value(offset + quint64(countWidth), qMin(entryWidth, 8), &firstEntry))
            break;
        const quint64 next = offset + quint64(countWidth) + entries * quint64(entryWidth);
        if (count > 0 && next > fileSize)
            break;
        ++count;
        if (!value(next, offsetWidth, &offset))
            break;
    }
    return count;
}

std::optional<qint32> countTiff(BlockReader &reader, const QByteArray &path)
{
    if (!hasTiffMagic(reader))
        return std::nullopt;
    TiffSource source{&reader};
    // "h": the header only, the directories are walked here; "m": no mapping.
    TIFF *tif = TIFFClientOpen(path.constData(), "rhm", &source, tiffRead, tiffWrite, tiffSeek,
                               tiffClose, tiffSize, tiffMap, tiffUnmap);
    if (!tif)
        return std::nullopt;
    const bool bigTiff = TIFFIsBigTIFF(tif);
    // Host order is little-endian on every platform we build for; libtiff
    // says whether the file's order differs from it.
    const bool bigEndianFile =
        (QSysInfo::ByteOrder == QSysInfo::LittleEndian) == bool(TIFFIsByteSwapped(tif));
    TIFFClose(tif);
    return countDirectoryChain(reader, bigTiff, bigEndianFile);
}

bool hasPdfName(const QByteArray &path)
{
    return pathExtension(path).toUpper() == "PDF";
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

// The PDF reader sizes its cross-reference table by the largest object
// number or /Size it meets, and a damaged file can claim billions: 82 bytes
// then cost seconds and 600 MB. Such claims are refused before it sees them.
bool claimsAbsurdObjectCount(QByteArrayView bytes)
{
    const qint64 limit = qMax<qint64>(1000000, bytes.size() / 8);
    for (qsizetype at = bytes.indexOf("obj"); at >= 0; at = bytes.indexOf("obj", at + 3)) {
        qsizetype end = at;
        if (numberBefore(bytes, &end) < 0)
            continue;
        if (numberBefore(bytes, &end) > limit)
            return true;
    }
    for (qsizetype at = bytes.indexOf("/Size"); at >= 0; at = bytes.indexOf("/Size", at + 5)) {
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

PageCount countPdf(BlockReader &reader, int fd, const QByteArray &path)
{
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
    const int pages = doc->pages();
    if (pages <= 0)
        return {0, CountStatus::Damaged};
    return {qint32(pages), CountStatus::Counted};
}

PageCount countOpenFile(int fd, qint64 size, const QByteArray &path)
{
    silenceLibraries();
    BlockReader reader(fd, size);
    if (const auto images = countTiff(reader, path)) {
        if (*images > 0)
            return {*images, CountStatus::Counted};
        if (!hasPdfName(path))
            return {0, CountStatus::Damaged};
    }
    if (!hasPdfName(path))
        return {0, CountStatus::NotTiffOrPdf};
    PageCount count = countPdf(reader, fd, path);
    if (count.status == CountStatus::Damaged && !looksLikePdf(reader))
        count.status = CountStatus::NotTiffOrPdf;
    return count;
}

} // namespace

MeasuredFile measureFile(const QByteArray &path, EntryType hint)
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
    FileHandle fd(openPath(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        measured.count.status = statusForErrno(errno);
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
    measured.count = countOpenFile(fd.get(), measured.status->size, path);
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
    FileHandle fd(openPath(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        return 0;
    BlockReader reader(fd.get(), status->size);
    return countTiff(reader, path).value_or(0);
}

qint32 countPdfPages(const QByteArray &path)
{
    silenceLibraries();
    const auto status = statusOf(path);
    if (!status || !status->isRegular())
        return 0;
    FileHandle fd(openPath(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        return 0;
    BlockReader reader(fd.get(), status->size);
    return countPdf(reader, fd.get(), path).pages;
}

} // namespace tallivo
