#pragma once

#include "billingreport.h"
#include "pagetally.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QLocale>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tallivo {

class FileList;

// The shown files' figures by job, as the bill groups them, and their bill
// when prices are set.
struct JobSummary
{
    struct Job
    {
        QByteArray key;
        PageTally tally;
    };
    // The bill's page lines of one size class, over all jobs.
    struct SizeAmount
    {
        Cents amount = 0;
        qint64 pricedPages = 0;
        qint64 unpricedPages = 0;
    };

    std::vector<Job> jobs; // by key
    // When priced: its jobs are those of `jobs`, in the same order.
    std::optional<BillingReport> bill;
    QHash<QString, SizeAmount> bySize; // by the size class's label
    Cents pageAmount = 0;              // the bill without its fees
    Cents fees = 0;
};

// "1,234.50" in `locale`, exact to the cent.
QString amountForPeople(Cents amount, const QLocale &locale = QLocale());

// Groups rows of a list by job. The job of each file needs its path, so a
// million files are read in slices from the event loop, none holding the
// main thread for long; pricing and sorting the jobs run on the I/O pool
// unless they are few. The list must not change while it runs: its owner
// cancels it at every change, before control returns to the event loop.
class JobSummaryGatherer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(JobSummaryGatherer)
public:
    using Done = std::function<void(std::shared_ptr<const JobSummary>)>;

    explicit JobSummaryGatherer(Done done, QObject *parent = nullptr);

    // Starts over with `rows` of `files` (all of them when there are no
    // rows given); `prices` empty means no bill. The first slice is read at
    // once, so a small list is done before this returns.
    void start(const FileList &files, std::optional<QList<int>> rows, const JobFolders &jobs,
               const PriceList &prices);
    void cancel();
    bool isRunning() const { return m_files != nullptr || m_finishing; }

private:
    struct Gathered;
    void step();
    void finish();

    Done m_done;
    QTimer m_slice;
    const FileList *m_files = nullptr;
    std::optional<QList<int>> m_rows;
    std::optional<JobFolders> m_jobs;
    PriceList m_prices;
    int m_next = 0;
    int m_end = 0;
    std::shared_ptr<Gathered> m_gathered;
    // The job of each folder met, and of the last file's folder record,
    // which the next file nearly always shares.
    QHash<QByteArray, int> m_jobOfFolder;
    const void *m_lastFolder = nullptr;
    int m_lastJob = -1;
    QHash<QByteArray, int> m_jobIndex;
    quint64 m_generation = 0;
    bool m_finishing = false;
};

} // namespace tallivo
