#include "billingwriters.h"

#include "savefile.h"

#include <QIODevice>

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

} // namespace tallivo
