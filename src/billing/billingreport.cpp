#include "billingreport.h"

#include "localpath.h"

#include <algorithm>

namespace tallivo {

QByteArray jobKey(const QByteArray &root, const QByteArray &file, bool perSubfolder)
{
    const QByteArray folder = folderOf(file);
    if (root.isEmpty())
        return folder;
    const QByteArray prefix = root.endsWith('/') ? root : root + '/';
    if (!file.startsWith(prefix) || file.size() == prefix.size())
        return folder;
    if (!perSubfolder)
        return root;
    const qsizetype slash = file.indexOf('/', prefix.size());
    // A file of the root itself, or one in a subfolder (at any depth).
    return slash < 0 ? root : file.first(slash);
}

JobFolders::JobFolders(const QList<QByteArray> &added, bool perSubfolder)
    : m_perSubfolder(perSubfolder)
{
    for (const QByteArray &folder : added)
        m_added.insert(folder.size() > 1 && folder.endsWith('/') ? folder.chopped(1) : folder);
}

QByteArray JobFolders::jobOf(const QByteArray &file) const
{
    QByteArray folder = folderOf(file);
    while (!folder.isEmpty()) {
        if (m_added.contains(folder))
            return jobKey(folder, file, m_perSubfolder);
        const QByteArray up = folderOf(folder);
        if (up == folder)
            break;
        folder = up;
    }
    // A file added by itself.
    return jobKey(QByteArray(), file, m_perSubfolder);
}

Cents amountOf(qint64 quantity, Money price)
{
    // Up to a billion pages at the dearest price stays within 64 bits once
    // divided; the product needs the wider type.
    const __int128 tenThousandths = __int128(quantity) * price;
    const __int128 half = tenThousandths < 0 ? -50 : 50;
    return Cents((tenThousandths + half) / 100);
}

QByteArray amountText(Cents amount)
{
    const quint64 magnitude = amount < 0 ? 0 - quint64(amount) : quint64(amount);
    return (amount < 0 ? "-" : "") + QByteArray::number(magnitude / 100) + '.' +
           QByteArray::number(magnitude % 100).rightJustified(2, '0');
}

BillingTally::Job &BillingTally::job(const QByteArray &key)
{
    const auto found = m_index.constFind(key);
    if (found != m_index.cend())
        return m_jobs[size_t(*found)];
    m_index.insert(key, qsizetype(m_jobs.size()));
    m_jobs.push_back(Job{key, 0, {}, {}});
    return m_jobs.back();
}

void BillingTally::addListed(const JobFolders &jobs, const QByteArray &path, CountStatus status,
                             qint32 pageCount, const PageSummary &pages)
{
    const QByteArray key = jobs.jobOf(path);
    if (status != CountStatus::Counted)
        return addUncounted(key, path, countStatusText(status));
    // Pages whose details are not known are billed as of unknown size and
    // colour, never left out.
    if (pages.isEmpty() && pageCount > 0)
        return addFile(key, PageSummary::fromPages({}, pageCount));
    addFile(key, pages);
}

void BillingTally::addFile(const QByteArray &key, const PageSummary &pages)
{
    Job &j = job(key);
    ++j.files;
    for (const PageSummary::Row &row : pages.rows()) {
        Cell &cell = j.cells[quint64(row.size) << 8 | quint8(row.colour)];
        cell.pages += row.pages;
        cell.a4Equivalents += row.a4Equivalents;
    }
}

void BillingTally::addPages(const QByteArray &key, SizeClass size, ColourClass colour, qint64 pages,
                            qint64 a4Equivalents)
{
    if (pages <= 0)
        return;
    Cell &cell = job(key).cells[quint64(size.key()) << 8 | quint8(colour)];
    cell.pages += pages;
    cell.a4Equivalents += a4Equivalents;
}

void BillingTally::addUncounted(const QByteArray &key, const QByteArray &path,
                                const QString &reason)
{
    Job &j = job(key);
    ++j.files;
    j.uncounted.push_back({path, reason});
}

void BillingTally::clear()
{
    m_jobs.clear();
    m_index.clear();
}

qint64 BillingLine::quantity() const
{
    if (kind == Fee)
        return 1;
    return price && price->unit == PriceUnit::A4Equivalent ? a4Equivalents : pages;
}

QString BillingReport::displayName(const QByteArray &key)
{
    QString name = displayPath(key);
    for (QChar &c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.unicode() >= 0xfffe)
            c = QChar::ReplacementCharacter;
    return name;
}

namespace {

BillingJob billJob(const BillingTally::Job &tallied, const PriceList &prices)
{
    BillingJob job;
    job.key = tallied.key;
    job.files = tallied.files;
    job.uncounted = tallied.uncounted;
    // By path, so that the bill of the same files is the same whatever order
    // the list or the walk gave them in.
    std::stable_sort(job.uncounted.begin(), job.uncounted.end(),
                     [](const BillingTally::Uncounted &x, const BillingTally::Uncounted &y) {
                         return x.path < y.path;
                     });
    struct Keyed
    {
        SizeClass size;
        ColourClass colour;
        BillingTally::Cell cell;
    };
    std::vector<Keyed> cells;
    cells.reserve(size_t(tallied.cells.size()));
    for (auto it = tallied.cells.cbegin(); it != tallied.cells.cend(); ++it)
        cells.push_back({SizeClass::fromKey(quint32(it.key() >> 8)),
                         ColourClass(quint8(it.key() & 0xff)), it.value()});
    std::sort(cells.begin(), cells.end(), [](const Keyed &a, const Keyed &b) {
        return a.size != b.size ? a.size < b.size : a.colour < b.colour;
    });
    for (const Keyed &k : cells) {
        BillingLine line;
        line.size = k.size.label();
        line.colour = colourLabel(k.colour);
        line.pages = k.cell.pages;
        line.a4Equivalents = k.cell.a4Equivalents;
        line.price = prices.price(k.size, k.colour);
        if (line.price)
            line.amount = amountOf(line.quantity(), line.price->price);
        else
            job.unpricedPages += line.pages;
        job.pages += line.pages;
        job.a4Equivalents += line.a4Equivalents;
        job.amount += line.amount;
        job.lines.push_back(std::move(line));
    }
    // A fee is charged once for a job with a page its row matches.
    for (const PriceList::Row &row : prices.rows()) {
        if (row.unit != PriceUnit::Job)
            continue;
        if (std::none_of(cells.cbegin(), cells.cend(), [&row](const Keyed &k) {
                return PriceList::matches(row, k.size, k.colour);
            }))
            continue;
        BillingLine fee;
        fee.kind = BillingLine::Fee;
        fee.size = row.size;
        fee.colour = row.colour;
        fee.price = row;
        fee.amount = amountOf(1, row.price);
        job.amount += fee.amount;
        job.lines.push_back(std::move(fee));
    }
    return job;
}

} // namespace

BillingReport makeBillingReport(const BillingTally &tally, const PriceList &prices,
                                const QString &shopName, const QDate &date)
{
    BillingReport report;
    report.shopName = shopName;
    report.date = date;
    report.jobs.reserve(tally.jobs().size());
    for (const BillingTally::Job &tallied : tally.jobs()) {
        BillingJob job = billJob(tallied, prices);
        report.pages += job.pages;
        report.a4Equivalents += job.a4Equivalents;
        report.unpricedPages += job.unpricedPages;
        report.uncountedFiles += qint64(job.uncounted.size());
        report.amount += job.amount;
        report.jobs.push_back(std::move(job));
    }
    std::sort(report.jobs.begin(), report.jobs.end(),
              [](const BillingJob &a, const BillingJob &b) { return a.key < b.key; });
    return report;
}

} // namespace tallivo
