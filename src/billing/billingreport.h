#pragma once

#include "pagecount.h"
#include "pagesummary.h"
#include "pricelist.h"

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>
#include <vector>

class QSettings;

namespace tallivo {

// The job a file is billed in, as the job's folder path. `root` is the
// folder the user added that holds the file, or empty for a file added by
// itself; such a file, or one outside `root`, is billed with the files of
// its own folder. With `perSubfolder`, each folder right under `root` is a
// job, and the files of `root` itself one more.
QByteArray jobKey(const QByteArray &root, const QByteArray &file, bool perSubfolder);

// The job of each file among the folders the user added: the innermost added
// folder that holds it, found by walking up its folders (so that many added
// folders cost nothing per file), then jobKey().
class JobFolders
{
public:
    JobFolders(const QList<QByteArray> &added, bool perSubfolder);
    QByteArray jobOf(const QByteArray &file) const;

private:
    QSet<QByteArray> m_added;
    bool m_perSubfolder;
};

// Settings of the billing report, as the window keeps them.
inline constexpr QLatin1StringView kShopNameKey{"SHOPNAME"};
inline constexpr QLatin1StringView kJobPerSubfolderKey{"JOBPERSUBFOLDER"};

// Money in hundredths, as amounts are billed.
using Cents = qint64;
// `quantity` at `price`, rounded to hundredths half away from zero.
Cents amountOf(qint64 quantity, Money price);
// "12.34", "-0.05": "." as the point, two decimals.
QByteArray amountText(Cents amount);

// Pages per job by size class and colour class, and the files of each job
// that could not be counted. Fed a file at a time and keeping only the
// figures of each job (and the uncounted files), so that the files of a
// large run need not be kept.
class BillingTally
{
public:
    struct Cell
    {
        qint64 pages = 0;
        qint64 a4Equivalents = 0;
    };
    struct Uncounted
    {
        QByteArray path;
        QString reason;
    };
    struct Job
    {
        QByteArray key;
        qint64 files = 0;
        QHash<quint64, Cell> cells; // SizeClass::key() << 8 | ColourClass
        std::vector<Uncounted> uncounted;
    };

    // A listed file, of the job `jobs` gives it: counted, by its pages;
    // otherwise as not counted, and why. The counter and the window feed
    // their files in here.
    void addListed(const JobFolders &jobs, const QByteArray &path, CountStatus status,
                   qint32 pageCount, const PageSummary &pages);
    // A counted file of `job`, its pages as PageSummary gives them.
    void addFile(const QByteArray &job, const PageSummary &pages);
    // Pages of one size and colour, for callers that have pages rather
    // than summaries; the file itself is added with addFile().
    void addPages(const QByteArray &job, SizeClass size, ColourClass colour, qint64 pages,
                  qint64 a4Equivalents);
    // A file of `job` that could not be counted, and why.
    void addUncounted(const QByteArray &job, const QByteArray &path, const QString &reason);
    void clear();

    // In the order of their first file.
    const std::vector<Job> &jobs() const { return m_jobs; }

private:
    Job &job(const QByteArray &key);

    std::vector<Job> m_jobs;
    QHash<QByteArray, qsizetype> m_index;
};

// The bill: per job, a line per size class and colour class with the row
// that priced it, the job's fees, and its total; the grand total.
struct BillingLine
{
    enum Kind : quint8
    {
        Pages, // pages of one size and colour
        Fee,   // a `job` row of the price list
    };
    Kind kind = Pages;
    QString size;   // the size class's label, or the fee row's size
    QString colour; // the colour class's label, or the fee row's colour
    qint64 pages = 0;
    qint64 a4Equivalents = 0;
    // The row that priced the line; none for unpriced pages.
    std::optional<PriceList::Row> price;
    Cents amount = 0;

    bool isPriced() const { return price.has_value(); }
    // The pages or A4 equivalents the price is for; 1 for a fee.
    qint64 quantity() const;
};

struct BillingJob
{
    QByteArray key;
    qint64 files = 0;
    std::vector<BillingLine> lines; // page lines in size and colour order, then fees
    std::vector<BillingTally::Uncounted> uncounted;
    qint64 pages = 0;
    qint64 a4Equivalents = 0;
    qint64 unpricedPages = 0;
    Cents amount = 0;
};

struct BillingReport
{
    QString shopName;
    QDate date;
    std::vector<BillingJob> jobs; // by job path
    qint64 pages = 0;
    qint64 a4Equivalents = 0;
    qint64 unpricedPages = 0;
    qint64 uncountedFiles = 0;
    Cents amount = 0;

    // A job's path as a person reads it: valid UTF-8, no control characters.
    static QString displayName(const QByteArray &key);
};

BillingReport makeBillingReport(const BillingTally &tally, const PriceList &prices,
                                const QString &shopName = QString(), const QDate &date = QDate());

} // namespace tallivo
