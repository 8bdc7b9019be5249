#include "pricelist.h"

#include "fileio.h"
#include "savefile.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tallivo {
namespace {

constexpr QByteArrayView kHeader = "Size\tColour\tUnit\tPrice";
constexpr int kMaxDecimals = 4;

// A field of the file as a message may quote it: short, one line.
QString quoted(QByteArrayView field)
{
    QString text = QString::fromUtf8(field.first(qMin<qsizetype>(field.size(), 40)));
    for (QChar &c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('?');
    return QLatin1Char('"') + text + QLatin1Char('"');
}

std::optional<PriceUnit> unitFromText(QByteArrayView text)
{
    for (PriceUnit unit : {PriceUnit::Page, PriceUnit::A4Equivalent, PriceUnit::Job})
        if (text == priceUnitLabel(unit).toLatin1())
            return unit;
    return std::nullopt;
}

} // namespace

QString priceUnitLabel(PriceUnit unit)
{
    switch (unit) {
    case PriceUnit::Page:
        return QStringLiteral("page");
    case PriceUnit::A4Equivalent:
        return QStringLiteral("A4 eq.");
    case PriceUnit::Job:
        break;
    }
    return QStringLiteral("job");
}

bool parsePrice(QByteArrayView text, Money *price)
{
    const qsizetype point = text.indexOf('.');
    const QByteArrayView whole = point < 0 ? text : text.first(point);
    const QByteArrayView decimals = point < 0 ? QByteArrayView() : text.sliced(point + 1);
    if (whole.isEmpty() || (point >= 0 && decimals.isEmpty()) || decimals.size() > kMaxDecimals)
        return false;
    Money value = 0;
    for (char c : whole) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
        if (value * kMoneyScale > kMaxPrice)
            return false;
    }
    Money fraction = 0;
    for (qsizetype i = 0; i < kMaxDecimals; ++i) {
        const char c = i < decimals.size() ? decimals[i] : '0';
        if (c < '0' || c > '9')
            return false;
        fraction = fraction * 10 + (c - '0');
    }
    value = value * kMoneyScale + fraction;
    if (value > kMaxPrice)
        return false;
    *price = value;
    return true;
}

QByteArray priceText(Money price)
{
    QByteArray decimals = QByteArray::number(price % kMoneyScale).rightJustified(kMaxDecimals, '0');
    while (decimals.size() > 2 && decimals.endsWith('0'))
        decimals.chop(1);
    return QByteArray::number(price / kMoneyScale) + '.' + decimals;
}

QString PriceList::Error::text() const
{
    if (line <= 0)
        return message;
    return QStringLiteral("line %1: %2").arg(line).arg(message);
}

bool PriceList::isSizeText(const QString &size)
{
    if (size == QLatin1String("*") || size == QLatin1String("other"))
        return true;
    for (int i = 0; i < SizeClass::NamedCount; ++i)
        if (size == SizeClass::named(SizeClass::Named(i)).label())
            return true;
    return false;
}

bool PriceList::isColourText(const QString &colour)
{
    return colour == QLatin1String("*") || colour == colourLabel(ColourClass::BlackWhite) ||
           colour == colourLabel(ColourClass::Grey) || colour == colourLabel(ColourClass::Colour);
}

bool PriceList::matches(const Row &row, SizeClass size, ColourClass colour)
{
    const bool sizeMatches =
        row.size == QLatin1String("*") ||
        (size.isOther() ? row.size == QLatin1String("other") : row.size == size.label());
    return sizeMatches && (row.colour == QLatin1String("*") || row.colour == colourLabel(colour));
}

std::optional<PriceList::Row> PriceList::price(SizeClass size, ColourClass colour) const
{
    for (const Row &row : m_rows)
        if (row.unit != PriceUnit::Job && matches(row, size, colour))
            return row;
    return std::nullopt;
}

bool PriceList::setRows(std::vector<Row> rows, Error *error)
{
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row &row = rows[i];
        QString why;
        if (!isSizeText(row.size))
            why = QStringLiteral("unknown size \"%1\"").arg(row.size);
        else if (!isColourText(row.colour))
            why = QStringLiteral("unknown colour \"%1\"").arg(row.colour);
        else if (row.price < 0)
            why = QStringLiteral("the price is negative");
        else if (row.price > kMaxPrice)
            why = QStringLiteral("the price is above %1").arg(QLatin1String(priceText(kMaxPrice)));
        if (!why.isEmpty()) {
            if (error)
                *error = {int(i + 1), why};
            return false;
        }
    }
    m_rows = std::move(rows);
    return true;
}

std::optional<PriceList> PriceList::parse(QByteArrayView tsv, Error *error)
{
    const auto fail = [error](int line, const QString &why) {
        if (error)
            *error = {line, why};
        return std::nullopt;
    };
    if (tsv.startsWith("\xef\xbb\xbf"))
        tsv = tsv.sliced(3);
    PriceList list;
    int lineNumber = 0;
    bool headerSeen = false;
    while (!tsv.isEmpty()) {
        ++lineNumber;
        const qsizetype end = tsv.indexOf('\n');
        QByteArrayView line = end < 0 ? tsv : tsv.first(end);
        tsv = end < 0 ? QByteArrayView() : tsv.sliced(end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (!headerSeen) {
            if (line != kHeader)
                return fail(lineNumber, QStringLiteral("the header must be \"Size<TAB>Colour<TAB>"
                                                       "Unit<TAB>Price\""));
            headerSeen = true;
            continue;
        }
        if (line.trimmed().isEmpty())
            continue;
        QByteArrayView fields[4];
        int count = 0;
        for (qsizetype from = 0;; ++count) {
            const qsizetype tab = line.indexOf('\t', from);
            if (count < 4)
                fields[count] = tab < 0 ? line.sliced(from) : line.sliced(from, tab - from);
            if (tab < 0)
                break;
            from = tab + 1;
        }
        ++count;
        if (count != 4)
            return fail(lineNumber,
                        QStringLiteral("4 tab-separated fields expected, found %1").arg(count));
        Row row;
        row.size = QString::fromUtf8(fields[0]);
        row.colour = QString::fromUtf8(fields[1]);
        if (!isSizeText(row.size))
            return fail(lineNumber, QStringLiteral("unknown size %1").arg(quoted(fields[0])));
        if (!isColourText(row.colour))
            return fail(lineNumber, QStringLiteral("unknown colour %1").arg(quoted(fields[1])));
        const std::optional<PriceUnit> unit = unitFromText(fields[2]);
        if (!unit)
            return fail(
                lineNumber,
                QStringLiteral("unknown unit %1 (page, A4 eq. or job)").arg(quoted(fields[2])));
        row.unit = *unit;
        const QByteArrayView price = fields[3];
        if (price.startsWith('-'))
            return fail(lineNumber, QStringLiteral("the price %1 is negative").arg(quoted(price)));
        if (!parsePrice(price, &row.price)) {
            const qsizetype point = price.indexOf('.');
            Money ignored = 0;
            if (point >= 0 && price.size() - point - 1 > kMaxDecimals &&
                parsePrice(price.first(point + 1 + kMaxDecimals), &ignored))
                return fail(
                    lineNumber,
                    QStringLiteral("the price %1 has more than 4 decimals").arg(quoted(price)));
            return fail(lineNumber,
                        QStringLiteral("the price %1 is not a number of at most %2 with \".\" "
                                       "as the point")
                            .arg(quoted(price), QLatin1String(priceText(kMaxPrice))));
        }
        list.m_rows.push_back(std::move(row));
    }
    if (!headerSeen)
        return fail(1, QStringLiteral("the list is empty; its first line must be the header"));
    return list;
}

QByteArray PriceList::toTsv() const
{
    QByteArray out = kHeader.toByteArray() + '\n';
    for (const Row &row : m_rows)
        out += row.size.toUtf8() + '\t' + row.colour.toUtf8() + '\t' +
               priceUnitLabel(row.unit).toUtf8() + '\t' + priceText(row.price) + '\n';
    return out;
}

std::optional<PriceList> PriceList::load(const QByteArray &path, Error *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = {0, why};
        return std::nullopt;
    };
    // Non-blocking, so that a FIFO given by mistake does not hang the open.
    FileDescriptor fd(openPath(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    const std::optional<FileStatus> status = statusOf(fd.get());
    if (!status)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    if (!status->isRegular())
        return fail(QStringLiteral("not a regular file"));
    if (status->size > kMaxFileSize)
        return fail(QStringLiteral("larger than %1 bytes").arg(kMaxFileSize));
    QByteArray data;
    data.resize(kMaxFileSize + 1);
    qsizetype got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(fd.get(), data.data() + got, size_t(data.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(QString::fromLocal8Bit(std::strerror(errno)));
        if (n == 0)
            break;
        got += n;
    }
    // The file may have grown since it was measured.
    if (got > kMaxFileSize)
        return fail(QStringLiteral("larger than %1 bytes").arg(kMaxFileSize));
    data.truncate(got);
    return parse(data, error);
}

bool PriceList::save(const QByteArray &path, QString *error) const
{
    return saveFile(path, toTsv(), error);
}

} // namespace tallivo
