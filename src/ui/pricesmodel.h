#pragma once

#include "pricelist.h"

#include <QAbstractTableModel>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class QSettings;

namespace tallivo {

// What the Prices dialog edits, as the settings keep it: the price list, the
// currency shown beside amounts (never converted), the shop's name for the
// report's header, and the colour tolerance.
struct PriceSettings
{
    PriceList prices;
    QString currency;
    QString shopName;
    double colourMinArea = 0; // mm^2; the default when not valid

    // Missing or unreadable values come back as the defaults.
    static PriceSettings load(const QSettings &settings);
    void save(QSettings &settings) const;
    // The tolerance to apply: the one set, or the default.
    double effectiveColourMinArea() const;

    bool operator==(const PriceSettings &) const = default;
};

// The price list's rows as a table of size, colour, unit and price, edited
// in place. Order matters, as the first row matching a page prices it.
class PricesModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PricesModel)
public:
    enum Column
    {
        SizeColumn,
        ColourColumn,
        UnitColumn,
        PriceColumn,
        ColumnCount
    };
    // Under Qt::UserRole: the choices a combo box offers for the column.
    static constexpr int ChoicesRole = Qt::UserRole;

    explicit PricesModel(QObject *parent = nullptr);

    // The locale prices are shown and typed in; the C locale's "." is
    // always taken as well.
    void setLocale(const QLocale &locale) { m_locale = locale; }

    const std::vector<PriceList::Row> &rows() const { return m_rows; }
    void setRows(std::vector<PriceList::Row> rows);

    // A row that prices every page at 0, inserted at `row`; its index.
    int insertNewRow(int row);
    // Moves a row up or down by one; false at an end.
    bool moveRowBy(int row, int delta);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool removeRows(int row, int count, const QModelIndex &parent = {}) override;

    // The texts each column takes.
    static QStringList sizeChoices();
    static QStringList colourChoices();
    static QStringList unitChoices();

    // A price as a person types it: digits with at most 4 decimals after
    // "." or the locale's decimal point, not negative, no group separators.
    static std::optional<Money> parsePriceInput(const QString &text, const QLocale &locale);
    // The price as shown to a person: 2 to 4 decimals, the locale's point.
    static QString priceForPeople(Money price, const QLocale &locale);

private:
    std::vector<PriceList::Row> m_rows;
    QLocale m_locale;
};

} // namespace tallivo
