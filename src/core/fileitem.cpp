#include "fileitem.h"

#include "pagecount.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>

namespace tallivo {

namespace {

QString localPath(const QUrl &url)
{
    return url.isLocalFile() ? url.toLocalFile() : url.path();
}

QDateTime toDate(std::optional<qint64> msecs)
{
    return msecs ? QDateTime::fromMSecsSinceEpoch(*msecs) : QDateTime();
}

} // namespace

std::unique_ptr<FileItem> FileItem::initWithURL(const QUrl &url)
{
    if (url.isEmpty() || !url.isValid() || !url.isLocalFile())
        return nullptr;
    std::unique_ptr<FileItem> item(new FileItem);
    item->setFilePath(QUrl(url.toString()));
    return item;
}

FileItem::FileItem(const QUrl &url, qint32 pages, qint32 size)
    : m_filePath(url)
    , m_urlText(url.toString())
    , m_pages(pages)
    , m_size(size)
{
}

void FileItem::setFilePath(const QUrl &url)
{
    m_filePath = url;
    m_urlText = url.toString();
    m_size = allocatedSize(url.toLocalFile());
    m_pages = getTiffPageCount(url);
}

qint32 FileItem::allocatedSize(const QString &path)
{
    struct stat st;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    // The field holds 32 bits; anything from 2 GiB up shows as the largest
    // value it can hold rather than wrapping to a negative size.
    const qint64 bytes = qint64(st.st_blocks) * 512;
    return bytes > INT32_MAX ? INT32_MAX : qint32(bytes);
}

QString FileItem::name() const
{
    if (m_filePath.isEmpty())
        return {};
    return QFileInfo(localPath(m_filePath)).fileName();
}

QString FileItem::location() const
{
    if (m_filePath.isEmpty())
        return {};
    QString path = localPath(m_filePath);
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return {};
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString FileItem::type() const
{
    if (m_filePath.isEmpty())
        return {};
    const QString fileName = name();
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    // A leading dot starts a hidden name, not an extension.
    if (dot <= 0)
        return {};
    return fileName.mid(dot + 1);
}

QString FileItem::typeToUpper() const
{
    return type().toUpper();
}

std::optional<qint64> FileItem::fileTimeMSecs(const QString &path, FileTime which)
{
    // Read afresh on every call: the file may have changed or gone since.
    struct statx st;
    if (path.isEmpty() || ::statx(AT_FDCWD, QFile::encodeName(path).constData(), 0,
                                  STATX_MTIME | STATX_ATIME | STATX_BTIME, &st) != 0)
        return std::nullopt;
    const statx_timestamp *t = nullptr;
    switch (which) {
    case FileTime::Modified:
        t = (st.stx_mask & STATX_MTIME) ? &st.stx_mtime : nullptr;
        break;
    case FileTime::Created:
        t = (st.stx_mask & STATX_BTIME) ? &st.stx_btime : nullptr;
        break;
    case FileTime::Accessed:
        t = (st.stx_mask & STATX_ATIME) ? &st.stx_atime : nullptr;
        break;
    }
    if (!t)
        return std::nullopt;
    return qint64(t->tv_sec) * 1000 + t->tv_nsec / 1000000;
}

std::optional<qint64> FileItem::fileTimeMSecs(FileTime which) const
{
    if (m_filePath.isEmpty())
        return std::nullopt;
    return fileTimeMSecs(localPath(m_filePath), which);
}

QDateTime FileItem::dateModified() const
{
    return toDate(fileTimeMSecs(FileTime::Modified));
}

QDateTime FileItem::dateCreated() const
{
    return toDate(fileTimeMSecs(FileTime::Created));
}

QDateTime FileItem::dateAccessed() const
{
    return toDate(fileTimeMSecs(FileTime::Accessed));
}

QString FileItem::displayDate(const QDateTime &date)
{
    if (!date.isValid())
        return {};
    return QLocale().toString(date.toLocalTime(), QStringLiteral("dd-MMM-yyyy h:mm AP"));
}

QVariant FileItem::displayField(Column column) const
{
    switch (column) {
    case Column::Check:
        return m_isSelected;
    case Column::Name:
        return name();
    case Column::Pages:
        return m_pages;
    case Column::Size:
        return sizeInKB();
    case Column::Type:
        return type();
    case Column::Modified:
        return displayDate(dateModified());
    case Column::Created:
        return displayDate(dateCreated());
    case Column::Accessed:
        return displayDate(dateAccessed());
    case Column::Location:
        return location();
    }
    return QString();
}

bool FileItem::isEqual(const FileItem *other) const
{
    if (other == this)
        return true;
    return other && other->m_urlText == m_urlText;
}

QString FileItem::sizeText(qint32 bytes)
{
    // Single precision on purpose: it decides how borderline sizes round
    // (1,050,000 bytes reads " 1 MB").
    float x = float(bytes);
    int i = 0;
    while (x > 1000.0f) {
        x /= 1000.0f;
        ++i;
    }
    if (i <= 1) {
        const float kb = float(bytes) / 1000.0f;
        return QStringLiteral("%1 KB").arg(int(std::round(kb)));
    }
    static const char *const units[] = {"B", "KB", "MB", "GB", "TB"};
    const QLatin1String unit(units[qMin(i, 4)]);
    const QString printed = QString::asprintf("%4.1f", double(x));
    const QStringList parts =
        QString(printed).replace(QLatin1Char('.'), QLatin1Char('/')).split(QLatin1Char('/'));
    if (parts.size() == 2 && parts.at(1).toInt() == 0)
        return parts.at(0) + QLatin1Char(' ') + unit;
    return printed + QLatin1Char(' ') + unit;
}

} // namespace tallivo
