#include "billingwriters.h"

#include "savefile.h"

#include <QIODevice>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <locale.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xlsxwriter.h>

namespace tallivo {
namespace {

QByteArray csvField(const QByteArray &field)
{
    if (!field.contains(',') && !field.contains('"') && !field.contains('\n') &&
        !field.contains('\r'))
        return field;
    QByteArray quoted = field;
    quoted.replace('"', "\"\"");
    return '"' + quoted + '"';
}

void csvLine(QByteArray &out, std::initializer_list<QByteArray> fields)
{
    bool first = true;
    for (const QByteArray &f : fields) {
        if (!std::exchange(first, false))
            out += ',';
        out += csvField(f);
    }
    out += "\r\n";
}

QByteArray number(qint64 n)
{
    return QByteArray::number(n);
}

QString plural(qint64 n, const char *one, const char *many)
{
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

} // namespace

QString billingNote(qint64 unpricedPages, qint64 uncountedFiles)
{
    QStringList parts;
    if (unpricedPages > 0)
        parts << plural(unpricedPages, "page unpriced", "pages unpriced");
    if (uncountedFiles > 0)
        parts << plural(uncountedFiles, "file not counted", "files not counted");
    return parts.join(QStringLiteral("; "));
}

QByteArray billingCsvHeader()
{
    return "Job,Size,Colour,Pages,A4 eq.,Unit,Unit price,Amount,Note,File\r\n";
}

bool writeBillingCsv(QIODevice &out, const BillingReport &report)
{
    QByteArray chunk = billingCsvHeader();
    const auto flush = [&out, &chunk](qsizetype atLeast) {
        if (chunk.size() < atLeast)
            return true;
        const bool ok = out.write(chunk) == chunk.size();
        chunk.clear();
        return ok;
    };
    for (const BillingJob &job : report.jobs) {
        for (const BillingLine &line : job.lines) {
            const bool fee = line.kind == BillingLine::Fee;
            QByteArray unit, unitPrice, amount, note;
            if (line.price) {
                unit = priceUnitLabel(line.price->unit).toUtf8();
                unitPrice = priceText(line.price->price);
                amount = amountText(line.amount);
            } else {
                note = "unpriced";
            }
            csvLine(chunk, {job.key, line.size.toUtf8(), line.colour.toUtf8(),
                            fee ? QByteArray() : number(line.pages),
                            fee ? QByteArray() : number(line.a4Equivalents), unit, unitPrice,
                            amount, fee ? QByteArray("job fee") : note, QByteArray()});
        }
        for (const BillingTally::Uncounted &file : job.uncounted)
            csvLine(chunk, {job.key,
                            {},
                            {},
                            {},
                            {},
                            {},
                            {},
                            {},
                            "not counted: " + file.reason.toUtf8(),
                            file.path});
        csvLine(chunk, {job.key,
                        "Total",
                        {},
                        number(job.pages),
                        number(job.a4Equivalents),
                        {},
                        {},
                        amountText(job.amount),
                        billingNote(job.unpricedPages, qint64(job.uncounted.size())).toUtf8(),
                        {}});
        if (!flush(64 * 1024))
            return false;
    }
    csvLine(chunk, {"Total",
                    {},
                    {},
                    number(report.pages),
                    number(report.a4Equivalents),
                    {},
                    {},
                    amountText(report.amount),
                    billingNote(report.unpricedPages, report.uncountedFiles).toUtf8(),
                    {}});
    return flush(0);
}

bool saveBillingCsv(const BillingReport &report, const QByteArray &path, QString *error)
{
    SaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && writeBillingCsv(file, report) && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

namespace {

// libxlsxwriter writes to a named file only: it is given a file in memory,
// whose bytes are then saved the usual way.
class MemoryFile
{
public:
    MemoryFile()
        : m_fd(::memfd_create("tallivo-report", MFD_CLOEXEC))
    {
    }
    ~MemoryFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Q_DISABLE_COPY_MOVE(MemoryFile)
    bool isValid() const { return m_fd >= 0; }
    QByteArray name() const { return "/proc/self/fd/" + QByteArray::number(m_fd); }
    // Copies the file to `out`; false when a read or write fails.
    bool copyTo(QIODevice &out) const
    {
        char buffer[64 * 1024];
        for (off_t at = 0;;) {
            const ssize_t n = ::pread(m_fd, buffer, sizeof buffer, at);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return false;
            if (n == 0)
                return true;
            if (out.write(buffer, n) != n)
                return false;
            at += n;
        }
    }

private:
    int m_fd;
};

// libxlsxwriter writes numbers with printf, which follows LC_NUMERIC: under
// a German locale 4.66 became "4,66" in the sheet. The C locale is set for
// this thread only while the workbook is written.
class CNumericLocale
{
public:
    CNumericLocale()
        : m_c(::newlocale(LC_NUMERIC_MASK, "C", ::duplocale(LC_GLOBAL_LOCALE)))
        , m_old(m_c ? ::uselocale(m_c) : nullptr)
    {
    }
    ~CNumericLocale()
    {
        if (m_c) {
            ::uselocale(m_old);
            ::freelocale(m_c);
        }
    }
    Q_DISABLE_COPY_MOVE(CNumericLocale)
    bool isValid() const { return m_c != nullptr; }

private:
    locale_t m_c;
    locale_t m_old;
};

QByteArray cellText(const QString &text)
{
    return text.toUtf8();
}

} // namespace

bool writeBillingXlsx(QIODevice &out, const BillingReport &report, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    // A sheet holds at most LXW_ROW_MAX rows, and a cut bill is no bill.
    qint64 lineCount = 2;
    for (const BillingJob &job : report.jobs)
        lineCount += qint64(job.lines.size() + job.uncounted.size()) + 1;
    if (lineCount > LXW_ROW_MAX)
        return fail(QStringLiteral("The report has more lines than a spreadsheet holds; "
                                   "save it as CSV."));
    const CNumericLocale numbers;
    if (!numbers.isValid())
        return fail(QStringLiteral("The C locale is missing."));
    MemoryFile memory;
    if (!memory.isValid())
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    lxw_workbook *book = workbook_new(memory.name().constData());
    if (!book)
        return fail(QStringLiteral("The spreadsheet could not be made."));
    lxw_format *bold = workbook_add_format(book);
    format_set_bold(bold);
    // Excel's built-in currency format, shown in the reader's own currency.
    lxw_format *money = workbook_add_format(book);
    format_set_num_format_index(money, 7);
    lxw_format *boldMoney = workbook_add_format(book);
    format_set_num_format_index(boldMoney, 7);
    format_set_bold(boldMoney);
    lxw_format *price = workbook_add_format(book);
    format_set_num_format(price, "0.00##");

    lxw_worksheet *jobs = workbook_add_worksheet(book, "Jobs");
    lxw_worksheet *lines = workbook_add_worksheet(book, "Lines");
    const char *jobHeader[] = {"Job",    "Files",          "Pages",      "A4 eq.",
                               "Amount", "Unpriced pages", "Not counted"};
    for (lxw_col_t c = 0; c < std::size(jobHeader); ++c)
        worksheet_write_string(jobs, 0, c, jobHeader[c], bold);
    const char *lineHeader[] = {"Job",  "Size",       "Colour", "Pages", "A4 eq.",
                                "Unit", "Unit price", "Amount", "Note",  "File"};
    for (lxw_col_t c = 0; c < std::size(lineHeader); ++c)
        worksheet_write_string(lines, 0, c, lineHeader[c], bold);
    worksheet_set_column(jobs, 0, 0, 50, nullptr);
    worksheet_set_column(lines, 0, 0, 50, nullptr);
    worksheet_set_column(lines, 8, 9, 30, nullptr);

    lxw_row_t jobRow = 1, lineRow = 1;
    const auto text = [](lxw_worksheet *sheet, lxw_row_t row, lxw_col_t col, const QString &s,
                         lxw_format *format = nullptr) {
        if (!s.isEmpty())
            worksheet_write_string(sheet, row, col, cellText(s).constData(), format);
    };
    for (const BillingJob &job : report.jobs) {
        const QString name = BillingReport::displayName(job.key);
        text(jobs, jobRow, 0, name);
        worksheet_write_number(jobs, jobRow, 1, double(job.files), nullptr);
        worksheet_write_number(jobs, jobRow, 2, double(job.pages), nullptr);
        worksheet_write_number(jobs, jobRow, 3, double(job.a4Equivalents), nullptr);
        worksheet_write_number(jobs, jobRow, 4, double(job.amount) / 100, money);
        worksheet_write_number(jobs, jobRow, 5, double(job.unpricedPages), nullptr);
        worksheet_write_number(jobs, jobRow, 6, double(job.uncounted.size()), nullptr);
        ++jobRow;

        for (const BillingLine &line : job.lines) {
            text(lines, lineRow, 0, name);
            text(lines, lineRow, 1, line.size);
            text(lines, lineRow, 2, line.colour);
            if (line.kind == BillingLine::Pages) {
                worksheet_write_number(lines, lineRow, 3, double(line.pages), nullptr);
                worksheet_write_number(lines, lineRow, 4, double(line.a4Equivalents), nullptr);
            }
            if (line.price) {
                text(lines, lineRow, 5, priceUnitLabel(line.price->unit));
                worksheet_write_number(lines, lineRow, 6,
                                       double(line.price->price) / double(kMoneyScale), price);
                worksheet_write_number(lines, lineRow, 7, double(line.amount) / 100, money);
            }
            text(lines, lineRow, 8,
                 line.kind == BillingLine::Fee
                     ? QStringLiteral("job fee")
                     : (line.price ? QString() : QStringLiteral("unpriced")));
            ++lineRow;
        }
        for (const BillingTally::Uncounted &file : job.uncounted) {
            text(lines, lineRow, 0, name);
            text(lines, lineRow, 8, QStringLiteral("not counted: ") + file.reason);
            text(lines, lineRow, 9, BillingReport::displayName(file.path));
            ++lineRow;
        }
        text(lines, lineRow, 0, name, bold);
        text(lines, lineRow, 1, QStringLiteral("Total"), bold);
        worksheet_write_number(lines, lineRow, 3, double(job.pages), bold);
        worksheet_write_number(lines, lineRow, 4, double(job.a4Equivalents), bold);
        worksheet_write_number(lines, lineRow, 7, double(job.amount) / 100, boldMoney);
        text(lines, lineRow, 8, billingNote(job.unpricedPages, qint64(job.uncounted.size())));
        ++lineRow;
    }
    text(jobs, jobRow, 0, QStringLiteral("Total"), bold);
    worksheet_write_number(jobs, jobRow, 2, double(report.pages), bold);
    worksheet_write_number(jobs, jobRow, 3, double(report.a4Equivalents), bold);
    worksheet_write_number(jobs, jobRow, 4, double(report.amount) / 100, boldMoney);
    worksheet_write_number(jobs, jobRow, 5, double(report.unpricedPages), bold);
    worksheet_write_number(jobs, jobRow, 6, double(report.uncountedFiles), bold);
    text(lines, lineRow, 0, QStringLiteral("Total"), bold);
    worksheet_write_number(lines, lineRow, 3, double(report.pages), bold);
    worksheet_write_number(lines, lineRow, 4, double(report.a4Equivalents), bold);
    worksheet_write_number(lines, lineRow, 7, double(report.amount) / 100, boldMoney);
    text(lines, lineRow, 8, billingNote(report.unpricedPages, report.uncountedFiles));

    const lxw_error result = workbook_close(book);
    if (result != LXW_NO_ERROR)
        return fail(QString::fromUtf8(lxw_strerror(result)));
    if (!memory.copyTo(out))
        return fail(out.errorString());
    return true;
}

bool saveBillingXlsx(const BillingReport &report, const QByteArray &path, QString *error)
{
    SaveFile file(path);
    QString why;
    if (file.open(QIODevice::WriteOnly) && writeBillingXlsx(file, report, &why) && file.commit())
        return true;
    if (error)
        *error = why.isEmpty() ? file.errorString() : why;
    return false;
}

} // namespace tallivo
