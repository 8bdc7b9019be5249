#pragma once

#include "column.h"

#include <QDateTime>
#include <QString>
#include <QUrl>
#include <QVariant>

#include "fileio.h"
#include "pagecount.h"
#include "pagesummary.h"

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

// One listed file. Pages, size and times are measured once, with one open
// and one statx call, when the item is made; name, location and type are
// derived from the URL, whose path keeps the file name's bytes.
class FileItem
{
public:
    // Measures the file. Returns null for anything that is not a file URL.
    // `hint` is the type a folder listing gave for it, if any.
    static std::unique_ptr<FileItem> create(const QUrl &url, EntryType hint = EntryType::Unknown,
                                            PageDetails details = PageDetails::None);

    // An item with known measurements, for tests and for lists restored
    // without touching the disk.
    FileItem(const QUrl &url, qint32 pages, qint64 size);

    const QUrl &filePath() const { return m_filePath; }
    const QString &urlText() const { return m_urlText; }
    // The path as the file system knows it.
    QByteArray localPath() const;
    qint32 pages() const { return m_pages; }
    // Bytes the file takes on disk.
    qint64 size() const { return m_size; }
    // Why the page count is what it is.
    CountStatus countStatus() const { return m_status; }
    void setCountStatus(CountStatus status) { m_status = status; }
    // Pages by size and colour class; empty unless asked for.
    const PageSummary &pageSummary() const { return m_pageSummary; }
    void setPageSummary(PageSummary summary) { m_pageSummary = std::move(summary); }
    // Every page's size and colour, when PageDetails::Pages was asked for.
    const std::vector<PageInfo> *pageInfo() const { return m_pageInfo.get(); }
    bool isChecked() const { return m_checked; }
    void setChecked(bool checked) { m_checked = checked; }

    // For display: the bytes of the name and folder made readable.
    QString name() const;
    QString location() const;
    QString type() const;
    QString typeToUpper() const;
    // The exact bytes of the name and of the folder.
    QByteArray nameBytes() const;
    QByteArray locationBytes() const;
    QString sizeInKB() const { return sizeText(m_size); }
    QDateTime dateModified() const;
    QDateTime dateCreated() const;
    QDateTime dateAccessed() const;

    // The value a column shows: a bool for the check box, an int for the
    // pages, text otherwise.
    QVariant displayField(Column column) const;

    bool operator==(const FileItem &other) const { return m_urlText == other.m_urlText; }

    // The short size text shown for a byte count ("12 KB", " 1.5 MB").
    static QString sizeText(qint64 bytes);
    // A timestamp as the table shows it, in the user's locale and zone.
    static QString displayDate(const QDateTime &date);
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
    void setFilePath(const QUrl &url);

    static constexpr qint64 kNoTime = std::numeric_limits<qint64>::min();

    QUrl m_filePath;
    QString m_urlText;
    PageSummary m_pageSummary;
    std::unique_ptr<std::vector<PageInfo>> m_pageInfo;
    qint64 m_size = 0;
    qint64 m_modified = kNoTime;
    qint64 m_created = kNoTime;
    qint64 m_accessed = kNoTime;
    qint32 m_pages = 0;
    CountStatus m_status = CountStatus::Counted;
    bool m_checked = true;
};

} // namespace tallivo
