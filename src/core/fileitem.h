#pragma once

#include "column.h"

#include <QDateTime>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <memory>
#include <optional>

namespace tallivo {

// One listed file. Pages and size are measured once, when the item is made;
// everything else is derived from the URL each time it is asked for.
class FileItem
{
public:
    // Measures the file (size and pages). Returns null for anything that is
    // not a file URL.
    static std::unique_ptr<FileItem> initWithURL(const QUrl &url);

    // An item with known measurements, for tests and for lists restored
    // without touching the disk.
    FileItem(const QUrl &url, qint32 pages, qint32 size);

    const QUrl &filePath() const { return m_filePath; }
    const QString &urlText() const { return m_urlText; }
    qint32 pages() const { return m_pages; }
    qint32 size() const { return m_size; }
    bool isSelected() const { return m_isSelected; }
    void setIsSelected(bool selected) { m_isSelected = selected; }

    QString name() const;
    QString location() const;
    QString type() const;
    QString typeToUpper() const;
    QString sizeInKB() const { return sizeText(m_size); }
    QDateTime dateModified() const;
    QDateTime dateCreated() const;
    QDateTime dateAccessed() const;

    // The value a column shows: a bool for the check box, an int for the
    // pages, text otherwise.
    QVariant displayField(Column column) const;

    bool isEqual(const FileItem *other) const;
    bool operator==(const FileItem &other) const { return m_urlText == other.m_urlText; }

    // The short size text shown for a byte count ("12 KB", " 1.5 MB").
    static QString sizeText(qint32 bytes);
    // A timestamp as the table shows it, in the user's locale and zone.
    static QString displayDate(const QDateTime &date);
    enum class FileTime
    {
        Modified,
        Created,
        Accessed
    };
    // One of the file's times in milliseconds since the epoch, read with a
    // single system call; empty when it cannot be read.
    static std::optional<qint64> fileTimeMSecs(const QString &path, FileTime which);
    std::optional<qint64> fileTimeMSecs(FileTime which) const;

    // The space a file takes on disk, capped to what 32 bits hold; 0 when the
    // file cannot be examined.
    static qint32 allocatedSize(const QString &path);

private:
    FileItem() = default;
    void setFilePath(const QUrl &url);

    bool m_isSelected = true;
    QUrl m_filePath;
    QString m_urlText;
    qint32 m_pages = 0;
    qint32 m_size = 0;
};

} // namespace tallivo
