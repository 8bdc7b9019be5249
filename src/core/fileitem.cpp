#include "fileitem.h"

#include "pagecount.h"

#include "localpath.h"

#include <QLocale>

#include <charconv>
#include <cmath>

namespace tallivo {

namespace {

QDateTime toDate(std::optional<qint64> msecs)
{
    return msecs ? QDateTime::fromMSecsSinceEpoch(*msecs) : QDateTime();
}

} // namespace

std::unique_ptr<FileItem> FileItem::create(const QUrl &url, EntryType hint, PageDetails details)
{
    if (url.isEmpty() || !url.isValid() || !url.isLocalFile())
        return nullptr;
    std::unique_ptr<FileItem> item(new FileItem);
    item->setFilePath(url);
    std::vector<PageInfo> pages;
    const MeasuredFile measured =
        measureFile(item->localPath(), hint, details == PageDetails::None ? nullptr : &pages);
    item->m_pages = measured.count.pages;
    if (details != PageDetails::None) {
        item->m_pageSummary = PageSummary::fromPages(pages, measured.count.pages);
        if (details == PageDetails::Pages)
            item->m_pageInfo = std::make_unique<std::vector<PageInfo>>(std::move(pages));
    }
    item->m_status = measured.count.status;
    if (measured.status) {
        item->m_size = measured.status->allocated;
        item->setFileTimes(measured.status->modified, measured.status->created,
                           measured.status->accessed);
    }
    return item;
}

FileItem::FileItem(const QUrl &url, qint32 pages, qint64 size)
    : m_size(size)
    , m_pages(pages)
{
    setFilePath(url);
}

void FileItem::setFilePath(const QUrl &url)
{
    m_filePath = url;
    m_urlText = url.toString();
}

QByteArray FileItem::localPath() const
{
    return m_filePath.isLocalFile() ? tallivo::localPath(m_filePath) : m_filePath.path().toUtf8();
}

QByteArray FileItem::nameBytes() const
{
    if (m_filePath.isEmpty())
        return {};
    return fileNameOf(localPath());
}

QByteArray FileItem::locationBytes() const
{
    if (m_filePath.isEmpty())
        return {};
    return folderOf(localPath());
}

QString FileItem::name() const
{
    return displayPath(nameBytes());
}

QString FileItem::location() const
{
    return displayPath(locationBytes());
}

QString FileItem::type() const
{
    if (m_filePath.isEmpty())
        return {};
    return displayPath(extensionOf(nameBytes()));
}

QString FileItem::typeToUpper() const
{
    return type().toUpper();
}

void FileItem::setFileTimes(std::optional<qint64> modified, std::optional<qint64> created,
                            std::optional<qint64> accessed)
{
    m_modified = modified.value_or(kNoTime);
    m_created = created.value_or(kNoTime);
    m_accessed = accessed.value_or(kNoTime);
}

std::optional<qint64> FileItem::fileTimeMSecs(FileTime which) const
{
    qint64 t = kNoTime;
    switch (which) {
    case FileTime::Modified:
        t = m_modified;
        break;
    case FileTime::Created:
        t = m_created;
        break;
    case FileTime::Accessed:
        t = m_accessed;
        break;
    }
    if (t == kNoTime)
        return std::nullopt;
    return t;
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
        return m_checked;
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
    case Column::Sizes:
        return m_pageSummary.sizesText();
    case Column::A4Equivalents:
        return m_pageSummary.a4EquivalentsText();
    case Column::Colour:
        return m_pageSummary.colourText();
    }
    return QString();
}

QString FileItem::sizeText(qint64 bytes)
{
    // Single precision on purpose: it decides how borderline sizes round
    // (1,050,000 bytes reads " 1 MB"). The digits are C's "%4.1f" in the C
    // locale whatever LC_NUMERIC says: exact ties round to even (526,249,984
    // bytes reads "526.2 MB") and the point is always ".".
    float x = float(bytes);
    int i = 0;
    while (x > 1000.0f) {
        x /= 1000.0f;
        ++i;
    }
    if (i <= 1) {
        const float kb = float(bytes) / 1000.0f;
        return QStringLiteral("%1 KB").arg(qint64(std::round(kb)));
    }
    static const char *const units[] = {"B", "KB", "MB", "GB", "TB", "PB", "EB"};
    const char *unit = units[qMin(i, 6)];
    char printed[64];
    const auto written =
        std::to_chars(printed, printed + sizeof printed, double(x), std::chars_format::fixed, 1);
    QByteArray text(printed, written.ptr - printed);
    if (text.size() < 4)
        text.prepend(QByteArray(4 - text.size(), ' '));
    if (text.endsWith(".0"))
        text.chop(2);
    return QString::fromLatin1(text + ' ' + unit);
}

} // namespace tallivo
