#include "fileitem.h"

#include "pagecount.h"

#include "localpath.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace tallivo {

namespace {

QDateTime toDate(std::optional<qint64> msecs)
{
    return msecs ? QDateTime::fromMSecsSinceEpoch(*msecs) : QDateTime();
}

} // namespace

QByteArray FileRecord::path() const
{
    return childPath(folderPath(), name);
}

std::unique_ptr<FileItem> FileItem::create(Folder folder, QByteArray name, EntryType hint,
                                           PageDetails details)
{
    std::unique_ptr<FileItem> item(new FileItem);
    item->m_record.folder = std::move(folder);
    item->m_record.name = std::move(name);
    const QByteArray path = item->localPath();
    item->m_key = pathKey(path);
    std::vector<PageInfo> pages;
    const MeasuredFile measured =
        measureFile(path, hint, details == PageDetails::None ? nullptr : &pages);
    item->m_record.pages = measured.count.pages;
    if (details != PageDetails::None) {
        item->setPageSummary(PageSummary::fromPages(pages, measured.count.pages));
        if (details == PageDetails::Pages) {
            if (!item->m_details)
                item->m_details = std::make_unique<Details>();
            item->m_details->pages = std::make_unique<std::vector<PageInfo>>(std::move(pages));
        }
    }
    item->m_record.status = measured.count.status;
    item->m_record.coloursLost = measured.count.coloursLost;
    if (measured.status) {
        item->m_record.size = measured.status->allocated;
        item->setFileTimes(measured.status->modified, measured.status->created,
                           measured.status->accessed);
    }
    return item;
}

std::unique_ptr<FileItem> FileItem::create(const QUrl &url, EntryType hint, PageDetails details)
{
    if (url.isEmpty() || !url.isValid() || !url.isLocalFile())
        return nullptr;
    const QByteArray path = tallivo::localPath(url);
    return create(makeFolder(folderOf(path)), fileNameOf(path), hint, details);
}

FileItem::FileItem(const QUrl &url, qint32 pages, qint64 size)
{
    const QByteArray path = url.isLocalFile() ? tallivo::localPath(url) : url.path().toUtf8();
    if (!path.isEmpty()) {
        m_record.folder = makeFolder(folderOf(path));
        m_record.name = fileNameOf(path);
    }
    m_key = pathKey(localPath());
    m_record.pages = pages;
    m_record.size = size;
}

FileItem::FileItem(FileRecord record)
    : m_record(std::move(record))
    , m_key(pathKey(m_record.path()))
{
}

std::unique_ptr<FileItem> FileItem::clone() const
{
    // The key is copied, not made again from the path.
    std::unique_ptr<FileItem> copy(new FileItem());
    copy->m_record = m_record;
    copy->m_key = m_key;
    if (m_details) {
        copy->m_details = std::make_unique<Details>();
        copy->m_details->summary = m_details->summary;
        if (m_details->pages)
            copy->m_details->pages = std::make_unique<std::vector<PageInfo>>(*m_details->pages);
    }
    return copy;
}

QUrl FileItem::filePath() const
{
    if (m_record.name.isEmpty())
        return {};
    return urlFromLocalPath(localPath());
}

const PageSummary &FileItem::pageSummary() const
{
    static const PageSummary none;
    return m_details ? m_details->summary : none;
}

void FileItem::setPageSummary(PageSummary summary)
{
    if (summary.isEmpty() && (!m_details || !m_details->pages)) {
        m_details.reset();
        return;
    }
    if (!m_details)
        m_details = std::make_unique<Details>();
    m_details->summary = std::move(summary);
}

const std::vector<PageInfo> *FileItem::pageInfo() const
{
    return m_details ? m_details->pages.get() : nullptr;
}

QString FileItem::name() const
{
    return displayPath(m_record.name);
}

QString FileItem::location() const
{
    return displayPath(m_record.folderPath());
}

QString FileItem::type() const
{
    return displayPath(extensionOf(m_record.name));
}

QString FileItem::typeToUpper() const
{
    return type().toUpper();
}

void FileItem::setFileTimes(std::optional<qint64> modified, std::optional<qint64> created,
                            std::optional<qint64> accessed)
{
    m_record.modified = modified.value_or(FileRecord::kNoTime);
    m_record.created = created.value_or(FileRecord::kNoTime);
    m_record.accessed = accessed.value_or(FileRecord::kNoTime);
}

std::optional<qint64> FileItem::fileTimeMSecs(FileTime which) const
{
    qint64 t = FileRecord::kNoTime;
    switch (which) {
    case FileTime::Modified:
        t = m_record.modified;
        break;
    case FileTime::Created:
        t = m_record.created;
        break;
    case FileTime::Accessed:
        t = m_record.accessed;
        break;
    }
    if (t == FileRecord::kNoTime)
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

QString FileItem::sizeText(qint64 bytes)
{
    return QString::fromLatin1(sizeTextBytes(bytes));
}

QByteArray FileItem::sizeTextBytes(qint64 bytes)
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
        return QByteArray::number(qint64(std::round(kb))) + " KB";
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
    return text + ' ' + unit;
}

} // namespace tallivo
