#include "detailsreader.h"

#include "filetablemodel.h"
#include "iopool.h"
#include "localpath.h"
#include "pagecount.h"

#include <utility>

namespace tallivo {
namespace {

// Files measured at once: enough to keep the PDF workers and a share busy.
constexpr int kInFlight = 4;

struct ReadDetails
{
    FileTableModel::DetailsRead read;
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
    connect(&model, &FileTableModel::pdfDetailsDropped, this, [this] {
        if (!std::exchange(m_resume, false))
            return;
        readMissing();
        if (!isReading())
            Q_EMIT finished();
    });
}

DetailsReader::~DetailsReader() = default;

void DetailsReader::readMissing()
{
    // The list as it is now: files under way that still lack details are
    // listed again, and may be read twice; the model takes the first.
    if (!isReading())
        m_done = 0;
    // Rows not yet reached still hold details of the old rule.
    if (m_model.isDroppingDetails()) {
        m_resume = true;
        Q_EMIT progressChanged();
        return;
    }
    m_queue = m_model.filesWithoutDetails();
    m_next = 0;
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
    m_resume = false;
    flush();
    Q_EMIT progressChanged();
    Q_EMIT finished();
}

void DetailsReader::coloursChanged()
{
    const bool reading = isReading();
    // Answers under way and those not yet handed on carry the old colours.
    ++m_generation;
    m_inFlight = 0;
    m_queue.clear();
    m_next = 0;
    m_pending.clear();
    m_flushTimer.stop();
    m_model.dropPdfDetails();
    m_resume = reading;
    Q_EMIT progressChanged();
}

void DetailsReader::startMore()
{
    while (m_inFlight < kInFlight && m_next < m_queue.size()) {
        FileTableModel::DetailsWanted file = std::move(m_queue[m_next++]);
        ++m_inFlight;
        const quint64 generation = m_generation;
        runOnIoPool(
            this,
            [file = std::move(file)] {
                ReadDetails result;
                const QByteArray path =
                    childPath(file.folder ? file.folder->path : QByteArray(), file.name);
                result.read.key = pathKey(path);
                result.read.row = file.row;
                std::vector<PageInfo> pages;
                // No parse slot around the whole file: the PDF reader takes
                // one for what is heavy, and the file may wait for a worker.
                const MeasuredFile measured = measureFile(path, EntryType::Unknown, &pages);
                result.counted = measured.count.status == CountStatus::Counted;
                result.read.pages = measured.count.pages;
                result.read.coloursLost = measured.count.coloursLost;
                if (result.counted)
                    result.read.summary = PageSummary::fromPages(pages, measured.count.pages);
                return result;
            },
            [this, generation](ReadDetails result) {
                if (generation != m_generation)
                    return;
                --m_inFlight;
                ++m_done;
                if (result.counted)
                    m_pending.push_back(std::move(result.read));
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
    if (m_pending.empty())
        return;
    m_model.setPageSummaries(std::exchange(m_pending, {}));
}

} // namespace tallivo
