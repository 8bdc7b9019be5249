#include "detailsreader.h"

#include "filetablemodel.h"
#include "iopool.h"
#include "localpath.h"
#include "pagecount.h"

#include <QSet>

namespace tallivo {
namespace {

// Files measured at once: enough to keep the PDF workers and a share busy.
constexpr int kInFlight = 4;

struct ReadDetails
{
    QString urlText;
    qint32 pages = 0;
    PageSummary summary;
    bool counted = false;
};

} // namespace

DetailsReader::DetailsReader(FileTableModel &model, QObject *parent)
    : QObject(parent)
    , m_model(model)
{
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(250);
    connect(&m_flushTimer, &QTimer::timeout, this, &DetailsReader::flush);
}

DetailsReader::~DetailsReader() = default;

void DetailsReader::readMissing()
{
    const QList<QUrl> missing = m_model.filesWithoutDetails();
    if (!isReading()) {
        m_queue.clear();
        m_next = 0;
        m_done = 0;
    }
    QSet<QUrl> queued(m_queue.cbegin() + m_next, m_queue.cend());
    for (const QUrl &url : missing) {
        if (!queued.contains(url))
            m_queue.append(url);
    }
    startMore();
    Q_EMIT progressChanged();
}

void DetailsReader::cancel()
{
    if (!isReading())
        return;
    ++m_generation;
    m_inFlight = 0;
    m_next = m_queue.size();
    flush();
    Q_EMIT progressChanged();
    Q_EMIT finished();
}

void DetailsReader::startMore()
{
    while (m_inFlight < kInFlight && m_next < m_queue.size()) {
        const QUrl url = m_queue.at(m_next++);
        ++m_inFlight;
        const quint64 generation = m_generation;
        runOnIoPool(
            this,
            [url] {
                ReadDetails read;
                read.urlText = url.toString();
                std::vector<PageInfo> pages;
                ParseSlot slot;
                const MeasuredFile measured =
                    measureFile(localPath(url), EntryType::Unknown, &pages);
                read.counted = measured.count.status == CountStatus::Counted;
                read.pages = measured.count.pages;
                if (read.counted)
                    read.summary = PageSummary::fromPages(pages, measured.count.pages);
                return read;
            },
            [this, generation](ReadDetails read) {
                if (generation != m_generation)
                    return;
                --m_inFlight;
                ++m_done;
                if (read.counted)
                    m_pending.insert(read.urlText, {read.pages, std::move(read.summary)});
                startMore();
                if (!isReading()) {
                    flush();
                    Q_EMIT progressChanged();
                    Q_EMIT finished();
                    return;
                }
                if (!m_flushTimer.isActive())
                    m_flushTimer.start();
                Q_EMIT progressChanged();
            });
    }
}

void DetailsReader::flush()
{
    m_flushTimer.stop();
    if (m_pending.isEmpty())
        return;
    m_model.setPageSummaries(m_pending);
    m_pending.clear();
}

} // namespace tallivo
