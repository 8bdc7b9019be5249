#include "pagecount.h"

#include "blockreader.h"
#include "pdfstructure.h"

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QUrl>

#include <poppler-document.h>
#include <poppler-global.h>
#include <tiffio.h>

#include <fcntl.h>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace tallivo {
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

bool isRegularFile(const QByteArray &path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

// Opens a regular file for reading without ever blocking on a FIFO or a
// device that took the file's place between the check and the open.
int openRegularFile(const QByteArray &path)
{
    if (!isRegularFile(path))
        return -1;
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool hasTiffHeader(int fd)
{
    unsigned char magic[4];
    if (::pread(fd, magic, sizeof magic, 0) != static_cast<ssize_t>(sizeof magic))
        return false;
    const bool little =
        magic[0] == 'I' && magic[1] == 'I' && magic[3] == 0 && (magic[2] == 42 || magic[2] == 43);
    const bool big =
        magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 && (magic[3] == 42 || magic[3] == 43);
    return little || big;
}

bool readAt(int fd, quint64 offset, void *buffer, size_t length)
{
    if (offset > quint64(std::numeric_limits<off_t>::max()))
        return false;
    return ::pread(fd, buffer, length, off_t(offset)) == ssize_t(length);
}

quint64 decode(const unsigned char *bytes, int width, bool swapped)
{
    quint64 value = 0;
    for (int i = 0; i < width; ++i) {
        const int shift = 8 * (swapped ? width - 1 - i : i);
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
qint32 countDirectoryChain(int fd, bool bigTiff, bool swapped)
{
    // Host order is little-endian on every platform we build for; libtiff
    // says whether the file's order differs from it.
    const bool bigEndianFile = (QSysInfo::ByteOrder == QSysInfo::LittleEndian) == swapped;
    const int offsetWidth = bigTiff ? 8 : 4;
    const int countWidth = bigTiff ? 8 : 2;
    const int entryWidth = bigTiff ? 20 : 12;
    auto value = [&](const unsigned char *b, int width) { return decode(b, width, bigEndianFile); };

    struct stat st;
    if (::fstat(fd, &st) != 0)
        return 0;
    const quint64 fileSize = quint64(st.st_size);

    unsigned char buffer[32];
    if (!readAt(fd, bigTiff ? 8 : 4, buffer, size_t(offsetWidth)))
        return 0;
    quint64 offset = value(buffer, offsetWidth);
    std::unordered_set<quint64> seen;
    qint32 count = 0;
    while (offset != 0 && count < INT32_MAX && seen.insert(offset).second) {
        if (!readAt(fd, offset, buffer, size_t(countWidth)))
            break;
        const quint64 entries = value(buffer, countWidth);
        if (entries == 0 || entries > fileSize ||
            !readAt(fd, offset + quint64(countWidth), buffer, size_t(entryWidth)))
            break;
        const quint64 next = offset + quint64(countWidth) + entries * quint64(entryWidth);
        if (count > 0 && next > fileSize)
            break;
        ++count;
        if (!readAt(fd, next, buffer, size_t(offsetWidth)))
            break;
        offset = value(buffer, offsetWidth);
    }
    return count;
}

} // namespace

qint32 countTiffDirectories(const QString &path)
{
    silenceLibraries();
    const QByteArray local = QFile::encodeName(path);
    const int fd = openRegularFile(local);
    if (fd < 0)
        return 0;
    if (!hasTiffHeader(fd)) {
        ::close(fd);
        return 0;
    }
    // "h": the header only, we walk the directories ourselves; "m": no memory
    // mapping, so a file truncated under us on a network share cannot raise
    // SIGBUS.
    TIFF *tif = TIFFFdOpen(fd, local.constData(), "rhm");
    if (!tif) {
        ::close(fd);
        return 0;
    }
    const qint32 count = countDirectoryChain(fd, TIFFIsBigTIFF(tif), TIFFIsByteSwapped(tif));
    TIFFClose(tif); // closes fd
    return count;
}

qint32 countPdfPages(const QString &path)
{
    silenceLibraries();
    const QByteArray local = QFile::encodeName(path);
    const int fd = openRegularFile(local);
    if (fd < 0)
        return 0;
    // The file's own structure first: a few reads near its end where the
    // library would parse the whole cross-reference section.
    std::optional<qint32> structural;
    struct stat st;
    if (::fstat(fd, &st) == 0) {
        BlockReader reader(fd, st.st_size);
        structural = structuralPdfPageCount(reader);
    }
    ::close(fd);
    if (structural)
        return *structural;
    std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(local.toStdString()));
    // Asking a locked document for its pages crashes the reader.
    if (!doc || doc->is_locked())
        return 0;
    const int pages = doc->pages();
    return pages > 0 ? pages : 0;
}

qint32 getTiffPageCount(const QUrl &url)
{
    if (url.isEmpty() || !url.isLocalFile())
        return 0;
    const QString path = url.toLocalFile();
    const qint32 images = countTiffDirectories(path);
    if (images != 0)
        return images;
    if (QFileInfo(url.path()).suffix().toUpper() != QLatin1String("PDF"))
        return 0;
    return countPdfPages(path);
}

} // namespace tallivo
