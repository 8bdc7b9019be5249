// bench-report [FILES [JOBS]]: builds the billing report of FILES synthetic
// files (1,000,000) in JOBS jobs (10,000), fed a file at a time as the
// counter feeds it, and writes it as CSV, XLSX and PDF into a temporary
// folder, timing each step.
#include "billingprint.h"
#include "billingreport.h"
#include "billingwriters.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cstdio>

using namespace tallivo;

namespace {

PageSummary fileOf(quint64 i)
{
    // A few shapes of file, as a scanning bureau's jobs have them.
    static const SizeClass sizes[] = {
        SizeClass::named(SizeClass::A4), SizeClass::named(SizeClass::A3),
        SizeClass::named(SizeClass::Letter), SizeClass::other(200, 300), SizeClass()};
    std::vector<PageSummary::Row> rows;
    const SizeClass size = sizes[i % 5];
    const qint32 pages = qint32(1 + i % 9);
    const qint64 a4 = size == sizes[1] ? 2 * pages : pages;
    rows.push_back({size.key(), pages, a4, ColourClass(1 + i % 3)});
    PageSummary summary;
    PageSummary::fromRows(std::move(rows), &summary);
    return summary;
}

double seconds(QElapsedTimer &timer)
{
    return double(timer.restart()) / 1000.0;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const qint64 files = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    const qint64 jobs = argc > 2 ? QByteArray(argv[2]).toLongLong() : 10000;
    const auto prices = PriceList::parse("Size\tColour\tUnit\tPrice\n"
                                         "A4\tB/W\tpage\t0.045\n"
                                         "A4\t*\tpage\t0.25\n"
                                         "A3\t*\tA4 eq.\t0.2\n"
                                         "other\t*\tpage\t0.3\n"
                                         "*\t*\tjob\t2.50\n");
    QTemporaryDir dir;
    if (!prices || !dir.isValid() || files <= 0 || jobs <= 0)
        return 1;
    const QByteArray root = "/srv/scans/customers";
    QElapsedTimer total, timer;
    total.start();
    timer.start();
    BillingTally tally;
    for (qint64 i = 0; i < files; ++i) {
        const QByteArray path = root + "/job-" + QByteArray::number(i % jobs) + "/scan-" +
                                QByteArray::number(i) + ".pdf";
        const QByteArray job = jobKey(root, path, true);
        if (i % 1000 == 999)
            tally.addUncounted(job, path, QStringLiteral("damaged"));
        else
            tally.addFile(job, fileOf(quint64(i)));
    }
    std::printf("tally    %8.2f s  %lld files, %lld jobs\n", seconds(timer), files,
                qint64(tally.jobs().size()));
    const BillingReport report =
        makeBillingReport(tally, *prices, QStringLiteral("Bench Copy Shop"), QDate(2026, 1, 1));
    std::printf("report   %8.2f s  total %s\n", seconds(timer), amountText(report.amount).data());
    for (const char *name : {"report.csv", "report.xlsx", "report.pdf"}) {
        const QByteArray path = QFile::encodeName(dir.path()) + '/' + name;
        QString error;
        if (!saveBillingReport(report, path, &error)) {
            std::fprintf(stderr, "%s: %s\n", name, qPrintable(error));
            return 1;
        }
        std::printf("%-8s %8.2f s  %lld bytes\n", name + 7, seconds(timer),
                    QFileInfo(QFile::decodeName(path)).size());
    }
    std::printf("all      %8.2f s\n", double(total.elapsed()) / 1000.0);
    return 0;
}
