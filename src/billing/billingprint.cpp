#include "billingprint.h"

#include "billingwriters.h"
#include "billingxlsx.h"
#include "localpath.h"
#include "savefile.h"

#include <QBuffer>
#include <QFontMetrics>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>

#include <array>

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

// Lays the report out line by line with a painter: a text document of
// 10,000 job tables took minutes to lay out.
class ReportPainter
{
public:
    ReportPainter(QPagedPaintDevice &device, const BillingReport &report, const QLocale &locale)
        : m_device(device)
        , m_painter(&device)
        , m_report(report)
        , m_locale(locale)
    {
        m_page = QRect(0, 0, device.width(), device.height());
        m_body = QFont(QStringLiteral("Sans Serif"), 9);
        m_bold = m_body;
        m_bold.setBold(true);
        m_title = m_bold;
        m_title.setPointSize(14);
        m_bodyMetrics = QFontMetrics(m_body, &device);
        m_boldMetrics = QFontMetrics(m_bold, &device);
        m_lineHeight = m_bodyMetrics.lineSpacing();
        const int widths[] = {22, 12, 10, 10, 12, 14, 20}; // percent of the page
        int x = 0;
        for (int w : widths) {
            m_columns.push_back({x, m_page.width() * w / 100});
            x += m_columns.back().second;
        }
    }

    bool paint()
    {
        if (!m_painter.isActive())
            return false;
        startPage();
        for (const BillingJob &job : m_report.jobs)
            paintJob(job);
        room(3 * m_lineHeight);
        m_y += m_lineHeight / 2;
        text(m_title, QStringLiteral("Total"));
        row(m_bold, {QString(), QString(), n(m_report.pages), n(m_report.a4Equivalents), QString(),
                     QString(), amount(m_report.amount)});
        note(billingNote(m_report.unpricedPages, m_report.uncountedFiles));
        return m_painter.end();
    }

private:
    QString n(qint64 v) const { return m_locale.toString(v); }
    QString amount(Cents a) const { return amountFor(m_locale, a); }

    void startPage()
    {
        m_y = 0;
        const QString date = m_locale.toString(
            m_report.date.isValid() ? m_report.date : QDate::currentDate(), QLocale::LongFormat);
        m_painter.setFont(m_title);
        const int h = QFontMetrics(m_title, &m_device).lineSpacing();
        m_painter.drawText(QRect(0, 0, m_page.width(), h), Qt::AlignLeft | Qt::AlignVCenter,
                           m_report.shopName);
        m_painter.setFont(m_body);
        m_painter.drawText(QRect(0, 0, m_page.width(), h), Qt::AlignRight | Qt::AlignVCenter,
                           QStringLiteral("Billing report, ") + date);
        m_y = h + m_lineHeight;
        m_painter.setFont(m_body);
        m_painter.drawText(QRect(0, m_page.height() - m_lineHeight, m_page.width(), m_lineHeight),
                           Qt::AlignRight, QStringLiteral("Page ") + n(++m_pageNumber));
    }
    // Starts a new page unless `height` fits on this one.
    void room(int height)
    {
        if (m_y + height <= m_page.height() - 2 * m_lineHeight)
            return;
        m_device.newPage();
        startPage();
    }
    // Wrapped text across the page.
    void text(const QFont &font, const QString &what)
    {
        m_painter.setFont(font);
        const QRect r = m_painter.boundingRect(QRect(0, m_y, m_page.width(), m_page.height()),
                                               Qt::TextWrapAnywhere, what);
        room(r.height());
        const QRect at(0, m_y, m_page.width(), r.height());
        m_painter.drawText(at, Qt::TextWrapAnywhere, what);
        m_y += r.height();
    }
    void row(const QFont &font, const std::array<QString, 7> &cells)
    {
        room(m_lineHeight);
        m_painter.setFont(font);
        for (size_t i = 0; i < cells.size(); ++i) {
            if (cells[i].isEmpty())
                continue;
            const auto [x, w] = m_columns[i];
            const bool number = i == 2 || i == 3 || i >= 5;
            const QRect at(x + m_lineHeight / 4, m_y, w - m_lineHeight / 2, m_lineHeight);
            const QFontMetrics &metrics = &font == &m_body ? m_bodyMetrics : m_boldMetrics;
            // Most cells fit at a glance; measuring each of them is slow.
            const QString shown = cells[i].size() * metrics.maxWidth() <= at.width()
                                      ? cells[i]
                                      : metrics.elidedText(cells[i], Qt::ElideRight, at.width());
            m_painter.drawText(at, (number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter,
                               shown);
        }
        m_y += m_lineHeight;
    }
    void rule() { m_painter.drawLine(0, m_y, m_page.width(), m_y); }
    void note(const QString &what)
    {
        if (!what.isEmpty())
            text(m_body, what);
    }

    void paintJob(const BillingJob &job)
    {
        room(4 * m_lineHeight);
        m_y += m_lineHeight / 2;
        text(m_bold, BillingReport::displayName(job.key));
        row(m_bold, {QStringLiteral("Size"), QStringLiteral("Colour"), QStringLiteral("Pages"),
                     QStringLiteral("A4 eq."), QStringLiteral("Unit"), QStringLiteral("Unit price"),
                     QStringLiteral("Amount")});
        rule();
        for (const BillingLine &line : job.lines) {
            const bool fee = line.kind == BillingLine::Fee;
            std::array<QString, 7> cells{line.size, line.colour, fee ? QString() : n(line.pages),
                                         fee ? QString() : n(line.a4Equivalents)};
            if (line.price) {
                cells[4] = priceUnitLabel(line.price->unit);
                cells[5] = priceFor(m_locale, line.price->price);
                cells[6] = amount(line.amount);
            } else {
                cells[4] = QStringLiteral("unpriced");
            }
            row(m_body, cells);
        }
        rule();
        row(m_bold, {QStringLiteral("Total"), QString(), n(job.pages), n(job.a4Equivalents),
                     QString(), QString(), amount(job.amount)});
        note(billingNote(job.unpricedPages, qint64(job.uncounted.size())));
        for (const BillingTally::Uncounted &file : job.uncounted)
            text(m_body,
                 BillingReport::displayName(file.path) + QStringLiteral(": ") + file.reason);
    }

    QPagedPaintDevice &m_device;
    QPainter m_painter;
    const BillingReport &m_report;
    const QLocale &m_locale;
    QRect m_page;
    QFont m_body, m_bold, m_title;
    QFontMetrics m_bodyMetrics{m_body};
    QFontMetrics m_boldMetrics{m_bold};
    int m_lineHeight = 0;
    std::vector<std::pair<int, int>> m_columns; // x and width
    int m_y = 0;
    qint64 m_pageNumber = 0;
};

} // namespace

QPageSize reportPageSize(const QLocale &locale)
{
    return QPageSize(locale.measurementSystem() == QLocale::ImperialUSSystem ? QPageSize::Letter
                                                                             : QPageSize::A4);
}

bool printBillingReport(QPagedPaintDevice &device, const BillingReport &report,
                        const QLocale &locale)
{
    return ReportPainter(device, report, locale).paint();
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
        if (!printBillingReport(writer, report, locale))
            return QByteArray();
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
    if (extension == "pdf") {
        const QByteArray pdf = billingPdf(report);
        if (pdf.isEmpty()) {
            if (error)
                *error = QStringLiteral("The PDF could not be made.");
            return false;
        }
        return saveFile(path, pdf, error);
    }
    if (error)
        *error = QStringLiteral("The report is saved as .csv, .xlsx or .pdf.");
    return false;
}

} // namespace tallivo
