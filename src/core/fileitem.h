#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>

#include "fileio.h"
#include "pagecount.h"
#include "pagesummary.h"
#include "pathset.h"

#include <limits>

#include <memory>
#include <optional>

namespace tallivo {

// How much a count learns of each page.
enum class PageDetails : quint8
{
    None,    // the count only
    Summary, // pages by size and colour class
    Pages    // and every page's size and colour, kept on the item
};

// What is known of one listed file apart from its page details, as plain
// data: the name's bytes, the shared folder, the measurements, the times in
// milliseconds since the epoch. Cheap to copy (two reference counts), so a
// writer on another thread can take rows while the list goes on changing.
struct FileRecord
{
    static constexpr qint64 kNoTime = std::numeric_limits<qint64>::min();

    Folder folder;
    QByteArray name;
    qint64 size = 0; // bytes the file takes on disk
    qint64 modified = kNoTime;
    qint64 created = kNoTime;
    qint64 accessed = kNoTime;
    qint32 pages = 0;
    CountStatus status = CountStatus::Counted;
    CountStatus coloursLost = CountStatus::Counted; // as in PageCount
    bool checked = true;

    QByteArray folderPath() const { return folder ? folder->path : QByteArray(); }
    // The path as the file system knows it.
    QByteArray path() const;
};

// One listed file. Pages, size and times are measured once, with one open
// and one statx call, when the item is made. The item keeps bytes and
// numbers only; the texts the table shows are made when asked for.
class FileItem
{
public:
    // Measures the file `name` in `folder`. `hint` is the type a folder
    // listing gave for it, if any.
    static std::unique_ptr<FileItem> create(Folder folder, QByteArray name,
                                            EntryType hint = EntryType::Unknown,
                                            PageDetails details = PageDetails::None);
    // The same for a URL, at the edges (drops, tests). Returns null for
    // anything that is not a file URL.
    static std::unique_ptr<FileItem> create(const QUrl &url, EntryType hint = EntryType::Unknown,
                                            PageDetails details = PageDetails::None);

    // An item with known measurements, for tests and for lists restored
    // without touching the disk.
    FileItem(const QUrl &url, qint32 pages, qint64 size);
    explicit FileItem(FileRecord record);
    FileItem(const FileItem &) = delete;
    FileItem &operator=(const FileItem &) = delete;
    // The same file with the same measurements and details.
    std::unique_ptr<FileItem> clone() const;

    const FileRecord &record() const { return m_record; }
    const Folder &folder() const { return m_record.folder; }

    // The file's URL, made when asked for: for the edges only.
    QUrl filePath() const;
    QString urlText() const { return filePath().toString(); }
    // The path as the file system knows it, and its duplicate-test key
    // (made once, with the item).
    QByteArray localPath() const { return m_record.path(); }
    const PathKey &key() const { return m_key; }
    qint32 pages() const { return m_record.pages; }
    // Bytes the file takes on disk.
    qint64 size() const { return m_record.size; }
    // Why the page count is what it is.
    CountStatus countStatus() const { return m_record.status; }
    void setCountStatus(CountStatus status) { m_record.status = status; }
    // Why the pages' colours are Unknown when a PDF worker lost them;
    // Counted when it did not.
    CountStatus coloursLost() const { return m_record.coloursLost; }
    void setColoursLost(CountStatus why) { m_record.coloursLost = why; }
    // Pages by size and colour class; empty unless asked for.
    const PageSummary &pageSummary() const;
    void setPageSummary(PageSummary summary);
    // Every page's size and colour, when PageDetails::Pages was asked for.
    const std::vector<PageInfo> *pageInfo() const;
    // Forgets the page details and why colours were lost, as when the rule
    // that decided the colours changed: they are read again on demand.
    void dropPageDetails()
    {
        m_details.reset();
        m_record.coloursLost = CountStatus::Counted;
    }
    bool isChecked() const { return m_record.checked; }
    void setChecked(bool checked) { m_record.checked = checked; }

    // For display: the bytes of the name and folder made readable.
    QString name() const;
    QString location() const;
    QString type() const;
    QString typeToUpper() const;
    // The exact bytes of the name and of the folder.
    QByteArray nameBytes() const { return m_record.name; }
    QByteArray locationBytes() const { return m_record.folderPath(); }
    QString sizeInKB() const { return sizeText(m_record.size); }
    QDateTime dateModified() const;
    QDateTime dateCreated() const;
    QDateTime dateAccessed() const;

    bool operator==(const FileItem &other) const
    {
        return m_record.name == other.m_record.name &&
               m_record.folderPath() == other.m_record.folderPath();
    }

    // The short size text shown for a byte count ("12 KB", " 1.5 MB").
    static QString sizeText(qint64 bytes);
    static QByteArray sizeTextBytes(qint64 bytes);
    enum class FileTime
    {
        Modified,
        Created,
        Accessed
    };
    // One of the file's times in milliseconds since the epoch, as read when
    // the file was counted; empty where the file system keeps no such time.
    std::optional<qint64> fileTimeMSecs(FileTime which) const;
    void setFileTimes(std::optional<qint64> modified, std::optional<qint64> created,
                      std::optional<qint64> accessed);

private:
    FileItem() = default;

    // Only files counted with details have them.
    struct Details
    {
        PageSummary summary;
        std::unique_ptr<std::vector<PageInfo>> pages;
    };

    FileRecord m_record;
    PathKey m_key;
    std::unique_ptr<Details> m_details;
};

} // namespace tallivo
