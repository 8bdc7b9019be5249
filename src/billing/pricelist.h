#pragma once

#include "pagedetails.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <vector>

namespace tallivo {

// What a price is paid per.
enum class PriceUnit : quint8
{
    Page,         // "page"
    A4Equivalent, // "A4 eq."
    Job,          // "job": once per job
};

// "page", "A4 eq.", "job".
QString priceUnitLabel(PriceUnit unit);

// Money in ten-thousandths, so that prices of up to 4 decimals are exact.
using Money = qint64;
inline constexpr Money kMoneyScale = 10000;
// The dearest price a list may hold, so that a price times the pages of any
// job still fits in 64 bits.
inline constexpr Money kMaxPrice = Money(1000000) * kMoneyScale;

// "12.5" -> 125000. False for anything else than digits with an optional
// point and at most 4 decimals, or above kMaxPrice.
bool parsePrice(QByteArrayView text, Money *price);
// The price with 2 to 4 decimals, "." as the point: 125000 -> "12.50".
QByteArray priceText(Money price);

// The prices of a shop: rows of size class, colour class, unit and price.
// A page is priced by the first `page` or `A4 eq.` row that matches it; each
// `job` row is charged once per job with a page it matches.
//
// The file form is tab-separated UTF-8, a header line
//     Size<TAB>Colour<TAB>Unit<TAB>Price
// then a row a line. Size is a size class as the page listing writes it
// ("A4", "A3", "Letter", ...), "other" for every size without a name,
// "unknown size", or "*"; colour is "B/W", "Grey", "Colour" or "*"; the
// price has "." as its point, whatever the locale.
class PriceList
{
public:
    struct Row
    {
        QString size = QStringLiteral("*");
        QString colour = QStringLiteral("*");
        PriceUnit unit = PriceUnit::Page;
        Money price = 0;

        bool operator==(const Row &) const = default;
    };
    // Why a list was refused: the line (from 1; 0 when it is not one line's
    // fault) and what is wrong there.
    struct Error
    {
        int line = 0;
        QString message;
        // "line 3: unknown colour "Red"".
        QString text() const;
    };

    // Larger price list files are refused unread.
    static constexpr qint64 kMaxFileSize = 1024 * 1024;

    PriceList() = default;

    // The list in `tsv`, or why it is refused.
    static std::optional<PriceList> parse(QByteArrayView tsv, Error *error = nullptr);
    QByteArray toTsv() const;
    // Reads and parses a price list file of at most kMaxFileSize bytes.
    static std::optional<PriceList> load(const QByteArray &path, Error *error = nullptr);
    // Writes toTsv() to `path` wholly or not at all.
    bool save(const QByteArray &path, QString *error = nullptr) const;

    const std::vector<Row> &rows() const { return m_rows; }
    // Takes `rows` when each of them is valid, else keeps the list as it was
    // and says which row (from 1) is wrong.
    bool setRows(std::vector<Row> rows, Error *error = nullptr);
    bool isEmpty() const { return m_rows.empty(); }

    // The row that prices a page of this size and colour: the first `page`
    // or `A4 eq.` row matching it. None when no row does: the page is
    // unpriced, never free.
    std::optional<Row> price(SizeClass size, ColourClass colour) const;
    // Whether `row` applies to a page of this size and colour.
    static bool matches(const Row &row, SizeClass size, ColourClass colour);
    // Whether `size` and `colour` are texts a row may hold.
    static bool isSizeText(const QString &size);
    static bool isColourText(const QString &colour);

    bool operator==(const PriceList &) const = default;

private:
    std::vector<Row> m_rows;
};

} // namespace tallivo
