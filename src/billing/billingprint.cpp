#include "billingprint.h"

#include "billingwriters.h"
#include "localpath.h"
#include "savefile.h"

#include <QBuffer>
#include <QPagedPaintDevice>
#include <QPdfWriter>
#include <QTextDocument>

namespace tallivo {
namespace {

QString amountFor(const QLocale &locale, Cents amount)
{
    const quint64 magnitude = amount < 0 ? 0 - quint64(amount) : quint64(amount);
    return (amount < 0 ? locale.negativeSign() : QString()) +
           locale.toString(qulonglong(magnitude / 100)) + locale.decimalPoint() +
           QString::number(magnitude % 100).rightJustified(2, QLatin1Char('0'));
}

QString priceFor(const QLocale &locale, Money price)
{
    const QByteArray text = priceText(price);
    const qsizetype point = text.indexOf('.');
    return locale.toString(price / kMoneyScale) + locale.decimalPoint() +
           QString::fromLatin1(text.sliced(point + 1));
}

QString cell(const QString &text, bool number = false)
{
    return (number ? QStringLiteral("<td align=\"right\">") : QStringLiteral("<td>")) +
           text.toHtmlEscaped() + QStringLiteral("</td>");
}

} // namespace

QPageSize reportPageSize(const QLocale &locale)
{
    return QPageSize(locale.measurementSystem() == QLocale::ImperialUSSystem ? QPageSize::Letter
                                                                             : QPageSize::A4);
}

void fillBillingDocument(QTextDocument &document, const BillingReport &report,
                         const QLocale &locale)
{
    const auto n = [&locale](qint64 v) { return locale.toString(v); };
    QString html = QStringLiteral("<html><body>");
    html += QStringLiteral("<h2>") + report.shopName.toHtmlEscaped() + QStringLiteral("</h2>");
    html += QStringLiteral("<p>Billing report, ") +
            locale
                .toString(report.date.isValid() ? report.date : QDate::currentDate(),
                          QLocale::LongFormat)
                .toHtmlEscaped() +
            QStringLiteral("</p>");
    const QString header =
        QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" width=\"100%\"><tr>"
                       "<th>Size</th><th>Colour</th><th>Pages</th><th>A4 eq.</th><th>Unit</th>"
                       "<th>Unit price</th><th>Amount</th></tr>");
    for (const BillingJob &job : report.jobs) {
        html += QStringLiteral("<h3>") + BillingReport::displayName(job.key).toHtmlEscaped() +
                QStringLiteral("</h3>") + header;
        for (const BillingLine &line : job.lines) {
            const bool fee = line.kind == BillingLine::Fee;
            html += QStringLiteral("<tr>") + cell(line.size) + cell(line.colour) +
                    cell(fee ? QString() : n(line.pages), true) +
                    cell(fee ? QString() : n(line.a4Equivalents), true);
            if (line.price)
                html += cell(priceUnitLabel(line.price->unit)) +
                        cell(priceFor(locale, line.price->price), true) +
                        cell(amountFor(locale, line.amount), true);
            else
                html += QStringLiteral("<td colspan=\"3\">unpriced</td>");
            html += QStringLiteral("</tr>");
        }
        html += QStringLiteral("<tr><td colspan=\"2\"><b>Total</b></td>") +
                cell(n(job.pages), true) + cell(n(job.a4Equivalents), true) +
                QStringLiteral("<td></td><td></td><td align=\"right\"><b>") +
                amountFor(locale, job.amount) + QStringLiteral("</b></td></tr></table>");
        const QString note = billingNote(job.unpricedPages, qint64(job.uncounted.size()));
        if (!note.isEmpty())
            html += QStringLiteral("<p>") + note.toHtmlEscaped() + QStringLiteral("</p>");
        if (!job.uncounted.empty()) {
            html += QStringLiteral("<ul>");
            for (const BillingTally::Uncounted &file : job.uncounted)
                html +=
                    QStringLiteral("<li>") + BillingReport::displayName(file.path).toHtmlEscaped() +
                    QStringLiteral(": ") + file.reason.toHtmlEscaped() + QStringLiteral("</li>");
            html += QStringLiteral("</ul>");
        }
    }
    html += QStringLiteral("<h3>Total</h3><p>") + n(report.pages) + QStringLiteral(" pages, ") +
            n(report.a4Equivalents) + QStringLiteral(" A4 eq.: <b>") +
            amountFor(locale, report.amount) + QStringLiteral("</b></p>");
    const QString note = billingNote(report.unpricedPages, report.uncountedFiles);
    if (!note.isEmpty())
        html += QStringLiteral("<p>") + note.toHtmlEscaped() + QStringLiteral("</p>");
    html += QStringLiteral("</body></html>");
    document.setHtml(html);
}

void printBillingReport(QPagedPaintDevice &device, const BillingReport &report,
                        const QLocale &locale)
{
    QTextDocument document;
    fillBillingDocument(document, report, locale);
    document.print(&device);
}

QByteArray billingPdf(const BillingReport &report, const QLocale &locale)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setPageSize(reportPageSize(locale));
        writer.setTitle(QStringLiteral("Billing report"));
        writer.setCreator(QStringLiteral(TALLIVO_DISPLAY_NAME));
        printBillingReport(writer, report, locale);
    }
    return buffer.data();
}

bool saveBillingReport(const BillingReport &report, const QByteArray &path, QString *error)
{
    const QByteArray extension = extensionOf(path).toLower();
    if (extension == "csv")
        return saveBillingCsv(report, path, error);
    if (extension == "xlsx")
        return saveBillingXlsx(report, path, error);
    if (extension == "pdf")
        return saveFile(path, billingPdf(report), error);
    if (error)
        *error = QStringLiteral("The report is saved as .csv, .xlsx or .pdf.");
    return false;
}

} // namespace tallivo
