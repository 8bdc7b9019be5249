#pragma once

#include "blockreader.h"
#include "fileio.h"
#include "pagedetails.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>
#include <vector>

namespace tallivo {

// Why a file has the page count it has.
enum class CountStatus : quint8
{
    Counted,
    Locked,  // a password-protected PDF
    Damaged, // a TIFF or PDF whose pages cannot be read
    NotTiffOrPdf,
    NotAFile,   // a folder, FIFO, device or socket
    Unreadable, // no permission, or an I/O error
    Missing,
    // The PDF library's worker process failed on the file: it crashed or was
    // killed, passed its time limit or its memory limit. The count is what
    // the file's structure gave, if anything.
    LibraryFailed,
    TookTooLong,
    NeededTooMuchMemory,
    // A file that ends before its last page: the pages before the end are
    // counted, and the file is marked damaged all the same.
    CutShort,
};
inline constexpr CountStatus kLastCountStatus = CountStatus::CutShort;
// A short reason for people ("password-protected", "damaged", ...); "" for Counted.
QString countStatusText(CountStatus status);

struct PageCount
{
    qint32 pages = 0;
    CountStatus status = CountStatus::Counted;
    // Counted, but the PDF worker lost the pages' colours: why
    // (TookTooLong, NeededTooMuchMemory, LibraryFailed). Counted when not.
    CountStatus coloursLost = CountStatus::Counted;
};

// What counting one file found: its pages and what one statx call said of it.
struct MeasuredFile
{
    PageCount count;
    std::optional<FileStatus> status;
};

// Counts the pages of the file at `path`: the image directories of a TIFF
// file, else, for a name ending in ".pdf" (any case), the pages of a PDF
// document; 0 when neither gives a count. Only regular files are opened and
// nothing is decoded. `hint` is the type a folder listing gave, if any: a
// listed regular file is opened without a look first. With `pages`, each
// page's size and colour are appended to it as well. Any thread.
MeasuredFile measureFile(const QByteArray &path, EntryType hint = EntryType::Unknown,
                         std::vector<PageInfo> *pages = nullptr);

// The read sizes that suit the file system of the open file `fd`.
BlockSizes blockSizesFor(int fd, const FileStatus &status);

// Counts an open regular file of `size` bytes; `path` decides, by its
// extension, whether the PDF reader is asked. `sizes` fit the reads to the
// file system.
PageCount countOpenFile(int fd, qint64 size, const QByteArray &path,
                        std::vector<PageInfo> *pages = nullptr,
                        BlockSizes sizes = BlockSizes::remote());

} // namespace tallivo
