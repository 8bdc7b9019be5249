#include "exporter.h"

#include "filelist.h"
#include "iopool.h"
#include "localpath.h"
#include "syslogline.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <exception>

namespace tallivo {

namespace {

// The export's own order: the accessed date comes before the created one.
constexpr const char *kHeader =
    "Name\tPages\tSize\tType\tModified Date\tAccessed Date\tCreated Date\tLocation\n";

// A block is written once this much has gathered.
constexpr qsizetype kWriteSize = 256 * 1024;

void appendDate(QByteArray &out, qint64 msecs)
{
    if (msecs == FileRecord::kNoTime) {
        out += "(null)";
        return;
    }
    const QDateTime date = QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
    if (!date.isValid()) {
        out += "(null)";
        return;
    }
    const QDate day = date.date();
    const QTime time = date.time();
    if (day.year() < 1000 || day.year() > 9999) {
        out += date.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8() + " +0000";
        return;
    }
    // Digits only: the same in every locale.
    char text[32];
    const int n =
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d +0000", day.year(),
                      day.month(), day.day(), time.hour(), time.minute(), time.second());
    out.append(text, n);
}

QString failure(const QByteArray &path, QString why)
{
    if (why.isEmpty())
        why = QCoreApplication::translate("Exporter", "The file could not be written.");
    logError("(export)", displayPath(path) + QStringLiteral(": ") + why);
    return why;
}

} // namespace

QByteArray exportHeader()
{
    return QByteArray(kHeader);
}

void appendExportRow(QByteArray &out, const FileRecord &file)
{
    out += escapedForRow(file.name);
    out += '\t';
    out += QByteArray::number(file.pages);
    out += '\t';
    out += FileItem::sizeTextBytes(file.size);
    out += '\t';
    out += escapedForRow(extensionOf(file.name));
    out += '\t';
    appendDate(out, file.modified);
    out += '\t';
    appendDate(out, file.accessed);
    out += '\t';
    appendDate(out, file.created);
    out += '\t';
    out += escapedForRow(file.folderPath());
    out += '\n';
}

ExportWriter::ExportWriter(QByteArray path)
    : m_path(std::move(path))
{
}

ExportWriter::~ExportWriter() = default;

bool ExportWriter::open()
{
    if (m_path.isEmpty())
        return false;
    m_file = std::make_unique<SaveFile>(m_path);
    m_ok = m_file->open(QIODevice::WriteOnly);
    if (m_ok)
        m_buffer = exportHeader();
    return m_ok;
}

void ExportWriter::add(const FileRecord &file)
{
    if (!m_ok)
        return;
    appendExportRow(m_buffer, file);
    if (m_buffer.size() >= kWriteSize)
        flush();
}

void ExportWriter::flush()
{
    if (m_ok && !m_buffer.isEmpty())
        m_ok = m_file->write(m_buffer) == m_buffer.size();
    m_buffer.clear();
}

bool ExportWriter::commit(QString *error)
{
    QString why;
    if (m_path.isEmpty()) {
        why = QCoreApplication::translate("Exporter", "No destination was given.");
    } else if (m_file) {
        flush();
        if (m_ok && m_file->commit())
            return true;
        why = m_file->errorString();
        m_file->cancelWriting();
    }
    m_ok = false;
    why = failure(m_path, why);
    if (error)
        *error = why;
    return false;
}

namespace {

// One export on its way: the rows copied from the list, a block each, freed
// as they are written.
struct ExportJob
{
    QByteArray path;
    std::vector<std::vector<FileRecord>> blocks;
    qint64 total = 0;
    std::atomic<qint64> written{0};
    ExportCallbacks callbacks;
};

// Writes the copied rows on the I/O pool. Once the rows are copied the export
// no longer depends on the window: closed meanwhile, it still finishes, as a
// save does. The window learns how far it has got a few times a second.
void startWriting(QObject *context, std::shared_ptr<ExportJob> job)
{
    QTimer *ticker = nullptr;
    if (job->callbacks.progress) {
        ticker = new QTimer(context);
        ticker->setInterval(200);
        QObject::connect(ticker, &QTimer::timeout, context, [job] {
            job->callbacks.progress(job->written.load(std::memory_order_relaxed), job->total);
        });
        ticker->start();
    }
    runOnIoPool(
        context,
        [job]() -> QString {
            try {
                ExportWriter writer(job->path);
                if (writer.open()) {
                    for (std::vector<FileRecord> &block : job->blocks) {
                        for (const FileRecord &row : block)
                            writer.add(row);
                        job->written.fetch_add(qint64(block.size()), std::memory_order_relaxed);
                        std::vector<FileRecord>().swap(block);
                        if (writer.failed())
                            break;
                    }
                }
                QString error;
                return writer.commit(&error) ? QString() : error;
            } catch (const std::exception &e) {
                return failure(job->path, QString::fromLocal8Bit(e.what()));
            }
        },
        [job, ticker](const QString &error) {
            delete ticker;
            // The last word on how far it got, so that the window can say
            // how many rows went out.
            if (job->callbacks.progress)
                job->callbacks.progress(job->written.load(std::memory_order_relaxed), job->total);
            if (job->callbacks.done)
                job->callbacks.done(error);
        });
}

// Copies the list's rows a block per turn of the event loop, so that a
// million rows never hold the thread up for long. An edit among the rows
// already copied starts the copy again; edits only among the rows still to
// copy leave what was copied true, so the rows written are the list as it
// was at one moment: when the last block was copied.
class RowCopier : public QObject
{
public:
    RowCopier(QObject *context, const FileList &files, const QAbstractItemModel *model,
              std::shared_ptr<ExportJob> job, int rowsPerBlock, ExportRows which)
        : QObject(context)
        , m_context(context)
        , m_files(files)
        , m_job(std::move(job))
        , m_rowsPerBlock(qMax(1, rowsPerBlock))
        , m_checkedOnly(which == ExportRows::Checked)
    {
        if (!model)
            return;
        const auto atRow = [this](const QModelIndex &, int first, int) {
            if (first < m_copied)
                m_changed = true;
        };
        const auto always = [this] { m_changed = true; };
        connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this, atRow);
        connect(model, &QAbstractItemModel::rowsAboutToBeInserted, this, atRow);
        connect(model, &QAbstractItemModel::rowsAboutToBeMoved, this, always);
        connect(model, &QAbstractItemModel::layoutAboutToBeChanged, this, always);
        connect(model, &QAbstractItemModel::modelAboutToBeReset, this, always);
        connect(model, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex &topLeft) {
            if (topLeft.row() < m_copied)
                m_changed = true;
        });
    }

    void step()
    {
        if (std::exchange(m_changed, false)) {
            m_job->blocks.clear();
            m_copied = 0;
            m_records = 0;
        }
        const int end = qMin(m_files.size(), m_copied + m_rowsPerBlock);
        if (m_copied < end) {
            std::vector<FileRecord> block;
            block.reserve(size_t(end - m_copied));
            for (int i = m_copied; i < end; ++i) {
                const FileItem &item = *m_files.at(i);
                if (!m_checkedOnly || item.isChecked())
                    block.push_back(item.record());
            }
            m_records += qint64(block.size());
            m_job->blocks.push_back(std::move(block));
            m_copied = end;
        }
        if (m_copied < m_files.size() || m_changed) {
            QTimer::singleShot(0, this, [this] { step(); });
            return;
        }
        m_job->total = m_records;
        startWriting(m_context, m_job);
        deleteLater();
    }

private:
    QObject *m_context;
    const FileList &m_files;
    std::shared_ptr<ExportJob> m_job;
    const int m_rowsPerBlock;
    const bool m_checkedOnly;
    int m_copied = 0;
    qint64 m_records = 0;
    bool m_changed = false;
};

} // namespace

void exportInBackground(QObject *context, const FileList &files, const QByteArray &path,
                        ExportCallbacks callbacks, const QAbstractItemModel *model,
                        int rowsPerBlock, ExportRows which)
{
    auto job = std::make_shared<ExportJob>();
    job->callbacks = std::move(callbacks);
    job->path = path;
    (new RowCopier(context, files, model, job, rowsPerBlock, which))->step();
}

} // namespace tallivo
