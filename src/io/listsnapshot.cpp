#include "listsnapshot.h"

#include "colourtolerance.h"
#include "fileitem.h"

#include <QCoreApplication>
#include <QHash>
#include <QSet>
#include <QtEndian>

#include <bit>
#include <cstring>

#include <zlib.h>

namespace tallivo::listsnapshot {

namespace {

constexpr char kMagic[] = "TLVLIST\n";
constexpr qsizetype kMagicSize = 8;
// Version 2 added the checksum, 3 the folders the user added and the
// colour tolerance.
constexpr quint32 kVersion = 3;
constexpr quint32 kFirstVersionRead = 2;
constexpr qsizetype kHeadSize = kMagicSize + 3 * 4;
constexpr qsizetype kChecksumSize = 4;
// The fewest bytes a file takes: folder, name length and one byte of name,
// size, three times, pages, status, check box, summary rows.
constexpr qsizetype kMinFileBytes = 4 + 4 + 1 + 8 + 3 * 8 + 4 + 1 + 1 + 4;
constexpr qsizetype kSummaryRowBytes = 4 + 4 + 8 + 1;

class Writer
{
public:
    explicit Writer(QByteArray &out)
        : m_out(out)
    {
    }
    template <typename T> void number(T value)
    {
        const T little = qToLittleEndian(value);
        m_out.append(reinterpret_cast<const char *>(&little), sizeof(T));
    }
    void bytes(const QByteArray &value)
    {
        number(quint32(value.size()));
        m_out.append(value);
    }

private:
    QByteArray &m_out;
};

class Reader
{
public:
    explicit Reader(QByteArrayView in)
        : m_in(in)
    {
    }
    qsizetype left() const { return m_in.size() - m_at; }
    template <typename T> bool number(T *value)
    {
        if (left() < qsizetype(sizeof(T)))
            return false;
        T little;
        std::memcpy(&little, m_in.data() + m_at, sizeof(T));
        m_at += sizeof(T);
        *value = qFromLittleEndian(little);
        return true;
    }
    bool bytes(quint32 maxSize, QByteArray *value)
    {
        quint32 size = 0;
        if (!number(&size) || size > maxSize || left() < qsizetype(size))
            return false;
        *value = m_in.sliced(m_at, size).toByteArray();
        m_at += size;
        return true;
    }

private:
    QByteArrayView m_in;
    qsizetype m_at = 0;
};

bool fail(QString *error, const char *why)
{
    if (error)
        *error = QCoreApplication::translate("ListSnapshot", why);
    return false;
}

quint32 checksumOf(QByteArrayView bytes)
{
    return quint32(crc32_z(crc32_z(0, nullptr, 0), reinterpret_cast<const Bytef *>(bytes.data()),
                           z_size_t(bytes.size())));
}

bool isFileName(const QByteArray &name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') &&
           !name.contains('\0');
}

} // namespace

QByteArray encode(const std::vector<const FileItem *> &files, const QList<QByteArray> &addedFolders,
                  double colourMinArea)
{
    // Each folder path is written once, numbered by first use. A list can
    // hold several records of one folder (files added by separate commands),
    // so records are merged by path; the record lookup spares hashing the
    // path for every file.
    QHash<const FolderRecord *, quint32> recordNumbers;
    QHash<QByteArray, quint32> pathNumbers;
    QByteArray folders;
    Writer folderWriter(folders);
    QByteArray rows;
    rows.reserve(qsizetype(files.size()) * 128);
    Writer rowWriter(rows);
    for (const FileItem *file : files) {
        const FileRecord &record = file->record();
        const FolderRecord *folder = record.folder.data();
        auto found = recordNumbers.constFind(folder);
        if (found == recordNumbers.cend()) {
            const QByteArray path = record.folderPath();
            auto number = pathNumbers.constFind(path);
            if (number == pathNumbers.cend()) {
                number = pathNumbers.insert(path, quint32(pathNumbers.size()));
                folderWriter.bytes(path);
            }
            found = recordNumbers.insert(folder, number.value());
        }
        rowWriter.number(found.value());
        rowWriter.bytes(record.name);
        rowWriter.number(qint64(record.size));
        rowWriter.number(qint64(record.modified));
        rowWriter.number(qint64(record.created));
        rowWriter.number(qint64(record.accessed));
        rowWriter.number(qint32(record.pages));
        rowWriter.number(quint8(record.status));
        rowWriter.number(quint8(record.checked ? 1 : 0));
        const auto &summary = file->pageSummary().rows();
        rowWriter.number(quint32(summary.size()));
        for (const PageSummary::Row &row : summary) {
            rowWriter.number(quint32(row.size));
            rowWriter.number(qint32(row.pages));
            rowWriter.number(qint64(row.a4Equivalents));
            rowWriter.number(quint8(row.colour));
        }
    }
    rowWriter.number(quint32(addedFolders.size()));
    for (const QByteArray &folder : addedFolders)
        rowWriter.bytes(folder);
    rowWriter.number(
        std::bit_cast<quint64>(isValidColourMinArea(colourMinArea) ? colourMinArea : 0.0));
    QByteArray out;
    out.reserve(kHeadSize + folders.size() + rows.size() + kChecksumSize);
    out.append(kMagic, kMagicSize);
    Writer head(out);
    head.number(kVersion);
    head.number(quint32(pathNumbers.size()));
    head.number(quint32(files.size()));
    out.append(folders);
    out.append(rows);
    head.number(checksumOf(out));
    return out;
}

void reseal(QByteArray *bytes)
{
    if (bytes->size() < kChecksumSize)
        return;
    const quint32 little =
        qToLittleEndian(checksumOf(QByteArrayView(*bytes).chopped(kChecksumSize)));
    std::memcpy(bytes->data() + bytes->size() - kChecksumSize, &little, kChecksumSize);
}

bool decode(QByteArrayView bytes, std::vector<std::unique_ptr<FileItem>> *files, QString *error,
            QList<QByteArray> *addedFolders, double *colourMinArea)
{
    files->clear();
    if (addedFolders)
        addedFolders->clear();
    if (colourMinArea)
        *colourMinArea = 0;
    if (bytes.size() > kMaxBytes)
        return fail(error, "The stored list is too large.");
    if (bytes.size() < kMagicSize || std::memcmp(bytes.data(), kMagic, kMagicSize) != 0)
        return fail(error, "The stored list is not a list of this program.");
    quint32 version = 0;
    if (!Reader(bytes.sliced(kMagicSize)).number(&version))
        return fail(error, "The stored list is cut short.");
    if (version < kFirstVersionRead || version > kVersion)
        return fail(error, "The stored list is of another version.");
    if (bytes.size() < kHeadSize + kChecksumSize)
        return fail(error, "The stored list is cut short.");
    // Nothing is read from a list whose bytes changed since it was written.
    const QByteArrayView body = bytes.chopped(kChecksumSize);
    quint32 stored = 0;
    Reader(bytes.last(kChecksumSize)).number(&stored);
    if (stored != checksumOf(body))
        return fail(error, "The stored list does not match its checksum.");
    Reader in(body.sliced(kMagicSize + 4));
    quint32 folderCount = 0, fileCount = 0;
    in.number(&folderCount);
    in.number(&fileCount);
    // Counts are checked against the bytes left before anything is
    // reserved for them.
    if (fileCount > kMaxFiles || folderCount > fileCount ||
        qint64(folderCount) * 4 + qint64(fileCount) * kMinFileBytes > in.left())
        return fail(error, "The stored list is damaged.");

    std::vector<Folder> folders;
    folders.reserve(folderCount);
    QSet<QByteArray> folderPaths;
    for (quint32 i = 0; i < folderCount; ++i) {
        QByteArray path;
        if (!in.bytes(kMaxFolderBytes, &path) || !path.startsWith('/') || path.contains('\0') ||
            folderPaths.contains(path))
            return fail(error, "The stored list is damaged.");
        folderPaths.insert(path);
        folders.push_back(makeFolder(std::move(path)));
    }

    std::vector<std::unique_ptr<FileItem>> read;
    read.reserve(fileCount);
    // Folders are numbered in the order files first use them, so a list
    // has one form only.
    quint32 nextFolder = 0;
    for (quint32 i = 0; i < fileCount; ++i) {
        FileRecord record;
        quint32 folder = 0, summaryRows = 0;
        quint8 status = 0, checked = 0;
        qint64 size = 0;
        qint32 pages = 0;
        if (!in.number(&folder) || !in.bytes(kMaxNameBytes, &record.name) || !in.number(&size) ||
            !in.number(&record.modified) || !in.number(&record.created) ||
            !in.number(&record.accessed) || !in.number(&pages) || !in.number(&status) ||
            !in.number(&checked) || !in.number(&summaryRows))
            return fail(error, "The stored list is damaged.");
        if (folder > nextFolder || folder >= folderCount || !isFileName(record.name) || size < 0 ||
            pages < 0 || status > quint8(kLastCountStatus) || checked > 1 ||
            summaryRows > kMaxSummaryRows || qint64(summaryRows) * kSummaryRowBytes > in.left())
            return fail(error, "The stored list is damaged.");
        std::vector<PageSummary::Row> rows(summaryRows);
        for (PageSummary::Row &row : rows) {
            quint8 colour = 0;
            if (!in.number(&row.size) || !in.number(&row.pages) || !in.number(&row.a4Equivalents) ||
                !in.number(&colour))
                return fail(error, "The stored list is damaged.");
            row.colour = ColourClass(colour);
        }
        PageSummary summary;
        if (!PageSummary::fromRows(std::move(rows), &summary))
            return fail(error, "The stored list is damaged.");
        if (folder == nextFolder)
            ++nextFolder;
        record.folder = folders[folder];
        record.size = size;
        record.pages = pages;
        record.status = CountStatus(status);
        record.checked = checked == 1;
        auto item = std::make_unique<FileItem>(std::move(record));
        item->setPageSummary(std::move(summary));
        read.push_back(std::move(item));
    }
    QList<QByteArray> added;
    double tolerance = 0;
    if (version >= 3) {
        quint32 addedCount = 0;
        if (!in.number(&addedCount) || addedCount > kMaxAddedFolders ||
            qint64(addedCount) * 4 > in.left())
            return fail(error, "The stored list is damaged.");
        added.reserve(addedCount);
        for (quint32 i = 0; i < addedCount; ++i) {
            QByteArray path;
            if (!in.bytes(kMaxFolderBytes, &path) || !path.startsWith('/') || path.contains('\0'))
                return fail(error, "The stored list is damaged.");
            added.append(std::move(path));
        }
        quint64 bits = 0;
        if (!in.number(&bits))
            return fail(error, "The stored list is damaged.");
        tolerance = std::bit_cast<double>(bits);
        if (bits != 0 && !isValidColourMinArea(tolerance))
            return fail(error, "The stored list is damaged.");
    }
    if (in.left() != 0 || nextFolder != folderCount)
        return fail(error, "The stored list is damaged.");
    *files = std::move(read);
    if (addedFolders)
        *addedFolders = std::move(added);
    if (colourMinArea)
        *colourMinArea = tolerance;
    return true;
}

} // namespace tallivo::listsnapshot
