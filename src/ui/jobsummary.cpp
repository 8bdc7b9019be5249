#include "jobsummary.h"

#include "filelist.h"
#include "iopool.h"

#include <algorithm>

namespace tallivo {
namespace {

// A slice stops at this, checked every few hundred files: the window stays
// responsive while a million files are grouped.
constexpr qint64 kSliceMs = 20;
constexpr int kCheckEvery = 256;
constexpr int kMaxSliceFiles = 32768;
// Fewer jobs are sorted and priced at once, without a trip to the pool.
constexpr size_t kJobsPricedAtOnce = 2000;

} // namespace

QString amountForPeople(Cents amount, const QLocale &locale)
{
    const quint64 magnitude = amount < 0 ? 0 - quint64(amount) : quint64(amount);
    const QString text = locale.toString(qulonglong(magnitude / 100)) + locale.decimalPoint() +
                         QString::number(magnitude % 100).rightJustified(2, QLatin1Char('0'));
    return amount < 0 ? locale.negativeSign() + text : text;
}

struct JobSummaryGatherer::Gathered
{
    std::vector<JobSummary::Job> jobs; // in the order of their first file
    BillingTally billing;
};

namespace {

JobSummary summarize(std::vector<JobSummary::Job> jobs, const BillingTally &billing,
                     const std::optional<PriceList> &prices)
{
    JobSummary summary;
    std::sort(jobs.begin(), jobs.end(),
              [](const JobSummary::Job &a, const JobSummary::Job &b) { return a.key < b.key; });
    summary.jobs = std::move(jobs);
    if (!prices)
        return summary;
    // The bill itself, so that every amount here is the report's.
    summary.bill = makeBillingReport(billing, *prices);
    for (const BillingJob &job : summary.bill->jobs) {
        for (const BillingLine &line : job.lines) {
            if (line.kind == BillingLine::Fee) {
                summary.fees += line.amount;
                continue;
            }
            JobSummary::SizeAmount &size = summary.bySize[line.size];
            size.amount += line.amount;
            (line.isPriced() ? size.pricedPages : size.unpricedPages) += line.pages;
            summary.pageAmount += line.amount;
        }
    }
    return summary;
}

} // namespace

JobSummaryGatherer::JobSummaryGatherer(Done done, QObject *parent)
    : QObject(parent)
    , m_done(std::move(done))
{
    m_slice.setSingleShot(true);
    m_slice.setInterval(0);
    connect(&m_slice, &QTimer::timeout, this, &JobSummaryGatherer::step);
}

void JobSummaryGatherer::cancel()
{
    ++m_generation;
    m_slice.stop();
    m_files = nullptr;
    m_rows.reset();
    m_gathered.reset();
    m_jobOfFolder.clear();
    m_lastFolder = nullptr;
    m_lastJob = -1;
    m_jobIndex.clear();
    m_finishing = false;
}

void JobSummaryGatherer::start(const FileList &files, std::optional<QList<int>> rows,
                               const JobFolders &jobs, const PriceList &prices)
{
    cancel();
    m_files = &files;
    m_rows = std::move(rows);
    m_jobs = jobs;
    m_prices = prices;
    m_next = 0;
    m_end = m_rows ? int(m_rows->size()) : files.size();
    m_gathered = std::make_shared<Gathered>();
    step();
}

void JobSummaryGatherer::step()
{
    if (!m_files)
        return;
    QElapsedTimer clock;
    clock.start();
    Gathered &g = *m_gathered;
    const bool priced = !m_prices.isEmpty();
    const int last = m_end - m_next > kMaxSliceFiles ? m_next + kMaxSliceFiles : m_end;
    while (m_next < last) {
        const int row = m_rows ? (*m_rows)[m_next] : m_next;
        ++m_next;
        const FileItem &item = *m_files->at(row);
        // A file's job depends on its folder alone.
        const void *folder = item.folder().constData();
        if (folder != m_lastFolder || m_lastJob < 0) {
            const QByteArray path = item.record().folderPath();
            auto found = m_jobOfFolder.constFind(path);
            if (found == m_jobOfFolder.cend()) {
                const QByteArray key = m_jobs->jobOf(item.localPath());
                auto known = m_jobIndex.constFind(key);
                if (known == m_jobIndex.cend()) {
                    known = m_jobIndex.insert(key, int(g.jobs.size()));
                    g.jobs.push_back({key, {}});
                }
                found = m_jobOfFolder.insert(path, *known);
            }
            m_lastFolder = folder;
            m_lastJob = *found;
        }
        JobSummary::Job &job = g.jobs[size_t(m_lastJob)];
        job.tally.add(item);
        if (priced) {
            // As the bill takes them: the pages of counted files; the others
            // are listed, not billed.
            if (item.countStatus() == CountStatus::Counted)
                g.billing.addFile(job.key, item.pageSummary());
            else
                g.billing.addUncounted(job.key, QByteArray(), QString());
        }
        if (m_next % kCheckEvery == 0 && clock.elapsed() >= kSliceMs)
            break;
    }
    if (m_next < m_end)
        m_slice.start();
    else
        finish();
}

void JobSummaryGatherer::finish()
{
    m_files = nullptr;
    m_rows.reset();
    m_jobOfFolder.clear();
    m_lastFolder = nullptr;
    m_lastJob = -1;
    m_jobIndex.clear();
    std::shared_ptr<Gathered> gathered = std::move(m_gathered);
    std::optional<PriceList> prices;
    if (!m_prices.isEmpty())
        prices = m_prices;
    if (gathered->jobs.size() < kJobsPricedAtOnce) {
        m_done(std::make_shared<const JobSummary>(
            summarize(std::move(gathered->jobs), gathered->billing, prices)));
        return;
    }
    m_finishing = true;
    const quint64 generation = m_generation;
    runOnIoPool(
        this,
        [gathered, prices] {
            return std::make_shared<const JobSummary>(
                summarize(std::move(gathered->jobs), gathered->billing, prices));
        },
        [this, generation](std::shared_ptr<const JobSummary> summary) {
            if (generation != m_generation)
                return;
            m_finishing = false;
            m_done(std::move(summary));
        });
}

} // namespace tallivo
