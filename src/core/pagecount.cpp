#include "pagecount.h"

#include "blockreader.h"
#include "iopool.h"
#include "libtiffcheck.h"
#include "localpath.h"
#include "logging.h"
#include "pdfstructure.h"
#include "pdfworkers.h"
#include "tiffdirectories.h"
#include "walk.h"

#include <QCoreApplication>
#include <QSysInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
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
    case CountStatus::LibraryFailed:
        return QCoreApplication::translate("tallivo", "the PDF library failed on this file");
    case CountStatus::TookTooLong:
        return QCoreApplication::translate("tallivo", "took too long");
    case CountStatus::NeededTooMuchMemory:
        return QCoreApplication::translate("tallivo", "needed too much memory");
    case CountStatus::CutShort:
        return QCoreApplication::translate("tallivo", "cut short");
    }
    return {};
}

namespace {

CountStatus statusForErrno(int error)
{
    return error == ENOENT || error == ENOTDIR ? CountStatus::Missing : CountStatus::Unreadable;
}

std::optional<PageCount> countTiff(BlockReader &reader, const QByteArray &path,
                                   std::vector<PageInfo> *pages)
{
    const std::optional<TiffLayout> layout = tiffLayout(reader.viewUpTo(0, 16));
    if (!layout)
        return std::nullopt;
    // libtiff has the last word on whether this is a TIFF file; the
    // directories are walked here.
    if (!libtiffOpens(reader, path))
        return std::nullopt;
    bool cutShort = false;
    const qint32 images = walkTiffPages(reader, *layout, pages, &cutShort);
    return PageCount{images, cutShort ? CountStatus::CutShort : CountStatus::Counted};
}

bool hasPdfName(const QByteArray &path)
{
    return hasPdfExtension(path);
}

// Where a file has no PDF header in its first KiB (where readers have long
// looked for it), nor an object near its start, nor the end of a PDF near
// its end, no reader finds a document in it: the PDF library would only
// spend a scan of the whole file on it.
bool mayBePdf(BlockReader &reader)
{
    const QByteArray head = reader.viewUpTo(0, 1024).toByteArray();
    if (head.contains("%PDF-") || containsObjectHeader(head))
        return true;
    const qint64 tailStart = qMax<qint64>(0, reader.size() - 1024);
    const QByteArray tail = reader.viewUpTo(tailStart, 1024).toByteArray();
    return tail.contains("startxref") || tail.contains("%%EOF");
}

const char *failureText(PdfWorkerAnswer::Status status)
{
    switch (status) {
    case PdfWorkerAnswer::TookTooLong:
        return "it took too long";
    case PdfWorkerAnswer::NeededTooMuchMemory:
        return "it needed too much memory";
    case PdfWorkerAnswer::Unavailable:
        return "the PDF worker could not be started";
    default:
        return "the PDF library failed on it";
    }
}

PageCount failedCount(PdfWorkerAnswer::Status status, qint32 pages, const QByteArray &path,
                      bool warn = true)
{
    CountStatus mark = CountStatus::LibraryFailed;
    if (status == PdfWorkerAnswer::TookTooLong)
        mark = CountStatus::TookTooLong;
    else if (status == PdfWorkerAnswer::NeededTooMuchMemory)
        mark = CountStatus::NeededTooMuchMemory;
    if (warn && status != PdfWorkerAnswer::Cancelled) // else the run that wanted it is over
        qCWarning(lcCore, "%s: %s", qUtf8Printable(displayPath(path)), failureText(status));
    return {pages, mark};
}

// A file whose count stands but whose colours were lost is named as a file
// whose count was lost is.
void noteLostColours(PdfWorkerAnswer::Status why, const QByteArray &path, PageCount *count)
{
    if (why == PdfWorkerAnswer::Cancelled)
        return;
    qCWarning(lcCore, "%s: page colours not read: %s", qUtf8Printable(displayPath(path)),
              failureText(why));
    count->coloursLost = failedCount(why, 0, {}, false).status;
}

void appendUnknownPages(qint32 count, std::vector<PageInfo> *pages)
{
    if (pages)
        pages->resize(pages->size() + size_t(qBound(0, count, kMaxDetailedPages)));
}

PageCount countPdf(BlockReader &reader, int fd, const QByteArray &path,
                   std::vector<PageInfo> *pages)
{
    // The file's own structure first: a few reads near its end, where the
    // PDF library would parse the whole cross-reference section, and the
    // page tree when page sizes are wanted. Only what it cannot tell goes
    // to a worker process.
    std::vector<PageInfo> boxes;
    const PdfStructureResult structure = examinePdfStructure(reader, pages ? &boxes : nullptr);
    if (structure.pages) {
        const qint32 count = *structure.pages;
        if (!pages)
            return {count, CountStatus::Counted};
        // The count stands; a worker is asked for the colours, and for the
        // sizes where the structure did not give them.
        PdfWorkerAnswer answer = PdfWorkers::shared().count(fd, reader.size(), true, true);
        const size_t detailed = size_t(qBound(0, count, kMaxDetailedPages));
        if (answer.status != PdfWorkerAnswer::Counted && answer.status != PdfWorkerAnswer::Locked &&
            answer.status != PdfWorkerAnswer::Damaged) {
            if (structure.boxesRead) {
                // The count and the sizes stand without the colours (no
                // worker was needed for them before colours were read).
                PageCount counted{count, CountStatus::Counted};
                noteLostColours(answer.status, path, &counted);
                pages->insert(pages->end(), boxes.begin(), boxes.end());
                return counted;
            }
            appendUnknownPages(count, pages);
            return failedCount(answer.status, count, path);
        }
        PageCount counted{count, CountStatus::Counted};
        if (answer.coloursLost)
            noteLostColours(*answer.coloursLost, path, &counted);
        answer.boxes.resize(detailed);
        if (structure.boxesRead) {
            for (size_t i = 0; i < detailed && i < boxes.size(); ++i)
                answer.boxes[i] = {boxes[i].widthMm, boxes[i].heightMm, answer.boxes[i].colour};
        }
        pages->insert(pages->end(), answer.boxes.begin(), answer.boxes.end());
        return counted;
    }
    if (structure.reason == PdfStructureReason::ImpossibleClaim) {
        qCWarning(lcCore, "%s: not counted: claims an impossible number of objects",
                  qUtf8Printable(displayPath(path)));
        return {0, CountStatus::Damaged};
    }
    if (!mayBePdf(reader))
        return {0, CountStatus::NotTiffOrPdf};
    if (structure.reason != PdfStructureReason::Encrypted && repairClaimsTooManyObjects(reader)) {
        qCWarning(lcCore, "%s: not counted: claims an impossible number of objects",
                  qUtf8Printable(displayPath(path)));
        return {0, CountStatus::Damaged};
    }
    const PdfWorkerAnswer answer =
        PdfWorkers::shared().count(fd, reader.size(), pages != nullptr, pages != nullptr);
    switch (answer.status) {
    case PdfWorkerAnswer::Counted: {
        PageCount counted{answer.pages, CountStatus::Counted};
        if (answer.coloursLost)
            noteLostColours(*answer.coloursLost, path, &counted);
        if (pages)
            pages->insert(pages->end(), answer.boxes.begin(), answer.boxes.end());
        return counted;
    }
    case PdfWorkerAnswer::Locked:
        return {0, CountStatus::Locked};
    case PdfWorkerAnswer::Damaged:
        // Without a header, what the library cannot open is no PDF at all.
        if (!reader.viewUpTo(0, 1024).toByteArray().contains("%PDF-"))
            return {0, CountStatus::NotTiffOrPdf};
        return {0, CountStatus::Damaged};
    default:
        return failedCount(answer.status, 0, path);
    }
}

} // namespace

BlockSizes blockSizesFor(int fd, const FileStatus &status)
{
    return isRemoteFileSystem(fd, status.device) ? BlockSizes::remote() : BlockSizes::local();
}

PageCount countOpenFile(int fd, qint64 size, const QByteArray &path, std::vector<PageInfo> *pages,
                        BlockSizes sizes)
{
    BlockReader reader(fd, size, {}, sizes);
    if (const auto images = countTiff(reader, path, pages)) {
        if (images->pages > 0)
            return *images;
        if (!hasPdfName(path))
            return {0, CountStatus::Damaged};
    }
    if (!hasPdfName(path))
        return {0, CountStatus::NotTiffOrPdf};
    return countPdf(reader, fd, path, pages);
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

} // namespace tallivo
