#include "pricesmodel.h"

#include "billingreport.h"
#include "colourtolerance.h"
#include "uilogging.h"

#include <QSettings>

#include <algorithm>
#include <cmath>

namespace tallivo {
namespace {

const QString pricesKey = QStringLiteral("PRICES");
const QString currencyKey = QStringLiteral("CURRENCY");

} // namespace

PriceSettings PriceSettings::load(const QSettings &settings)
{
    PriceSettings loaded;
    const QString tsv = settings.value(pricesKey).toString();
    if (!tsv.isEmpty()) {
        PriceList::Error error;
        if (std::optional<PriceList> prices = PriceList::parse(tsv.toUtf8(), &error))
            loaded.prices = std::move(*prices);
        else
            qCWarning(lcUi) << "The stored price list was not read:" << error.text();
    }
    loaded.currency = settings.value(currencyKey).toString();
    loaded.shopName = settings.value(kShopNameKey).toString();
    loaded.colourMinArea =
        parseColourMinArea(settings.value(QLatin1String(kColourMinAreaKey)).toString()).value_or(0);
    return loaded;
}

void PriceSettings::save(QSettings &settings) const
{
    const auto keep = [&settings](const QString &key, const QString &value) {
        if (value.isEmpty())
            settings.remove(key);
        else
            settings.setValue(key, value);
    };
    keep(pricesKey, prices.isEmpty() ? QString() : QString::fromUtf8(prices.toTsv()));
    keep(currencyKey, currency);
    keep(kShopNameKey, shopName);
    // Locale-free, and absent while it is the default, which may change.
    const double area = effectiveColourMinArea();
    keep(QLatin1String(kColourMinAreaKey),
         area == kDefaultColourMinArea
             ? QString()
             : QString::number(area, 'g', QLocale::FloatingPointShortest));
}

double PriceSettings::effectiveColourMinArea() const
{
    return isValidColourMinArea(colourMinArea) ? colourMinArea : kDefaultColourMinArea;
}

PricesModel::PricesModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void PricesModel::setRows(std::vector<PriceList::Row> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int PricesModel::insertNewRow(int row)
{
    row = std::clamp(row, 0, int(m_rows.size()));
    beginInsertRows({}, row, row);
    m_rows.insert(m_rows.begin() + row, PriceList::Row{});
    endInsertRows();
    return row;
}

bool PricesModel::moveRowBy(int row, int delta)
{
    const int to = row + delta;
    if (row < 0 || row >= int(m_rows.size()) || to < 0 || to >= int(m_rows.size()) || delta == 0)
        return false;
    // Qt's destination is the row the moved one goes before.
    if (!beginMoveRows({}, row, row, {}, delta > 0 ? to + 1 : to))
        return false;
    const PriceList::Row moved = m_rows[size_t(row)];
    m_rows.erase(m_rows.begin() + row);
    m_rows.insert(m_rows.begin() + to, moved);
    endMoveRows();
    return true;
}

int PricesModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int PricesModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant PricesModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const PriceList::Row &row = m_rows[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        switch (index.column()) {
        case SizeColumn:
            return row.size;
        case ColourColumn:
            return row.colour;
        case UnitColumn:
            return priceUnitLabel(row.unit);
        default:
            return priceForPeople(row.price, m_locale);
        }
    case ChoicesRole:
        switch (index.column()) {
        case SizeColumn:
            return sizeChoices();
        case ColourColumn:
            return colourChoices();
        case UnitColumn:
            return unitChoices();
        default:
            return {};
        }
    case Qt::TextAlignmentRole:
        if (index.column() == PriceColumn)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    default:
        return {};
    }
}

bool PricesModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole ||
        !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    PriceList::Row &row = m_rows[size_t(index.row())];
    const QString text = value.toString();
    switch (index.column()) {
    case SizeColumn:
        if (!PriceList::isSizeText(text))
            return false;
        row.size = text;
        break;
    case ColourColumn:
        if (!PriceList::isColourText(text))
            return false;
        row.colour = text;
        break;
    case UnitColumn: {
        const qsizetype unit = unitChoices().indexOf(text);
        if (unit < 0)
            return false;
        row.unit = PriceUnit(unit);
        break;
    }
    default: {
        const std::optional<Money> price = parsePriceInput(text, m_locale);
        if (!price)
            return false;
        row.price = *price;
        break;
    }
    }
    Q_EMIT dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    return true;
}

Qt::ItemFlags PricesModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable;
}

QVariant PricesModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case SizeColumn:
        return tr("Size");
    case ColourColumn:
        return tr("Colour");
    case UnitColumn:
        return tr("Unit");
    case PriceColumn:
        return tr("Price");
    default:
        return {};
    }
}

bool PricesModel::removeRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || count <= 0 || row + count > int(m_rows.size()))
        return false;
    beginRemoveRows({}, row, row + count - 1);
    m_rows.erase(m_rows.begin() + row, m_rows.begin() + row + count);
    endRemoveRows();
    return true;
}

QStringList PricesModel::sizeChoices()
{
    // The common sizes first, then the rest by name.
    QStringList choices{QStringLiteral("*"), QStringLiteral("A4"), QStringLiteral("A3"),
                        QStringLiteral("Letter")};
    for (int i = SizeClass::Unknown + 1; i < SizeClass::NamedCount; ++i) {
        const QString label = SizeClass::named(SizeClass::Named(i)).label();
        if (!choices.contains(label))
            choices << label;
    }
    choices << QStringLiteral("other") << SizeClass::named(SizeClass::Unknown).label();
    return choices;
}

QStringList PricesModel::colourChoices()
{
    return {QStringLiteral("*"), colourLabel(ColourClass::BlackWhite),
            colourLabel(ColourClass::Grey), colourLabel(ColourClass::Colour)};
}

QStringList PricesModel::unitChoices()
{
    // In PriceUnit's order.
    return {priceUnitLabel(PriceUnit::Page), priceUnitLabel(PriceUnit::A4Equivalent),
            priceUnitLabel(PriceUnit::Job)};
}

std::optional<Money> PricesModel::parsePriceInput(const QString &text, const QLocale &locale)
{
    QString plain = text.trimmed();
    // The locale's decimal point is taken; "." too, unless the locale groups
    // digits with it, where "1.500" would be read as 1.5 against the
    // writer's meaning.
    const QString point = locale.decimalPoint();
    const QString group = locale.groupSeparator();
    if (point != QLatin1String(".")) {
        if (group == QLatin1String(".") && plain.contains(QLatin1Char('.')))
            return std::nullopt;
        plain.replace(point, QStringLiteral("."));
    }
    // What is not Latin-1 becomes "?", which parsePrice() refuses.
    Money price = 0;
    if (!parsePrice(plain.toLatin1(), &price))
        return std::nullopt;
    return price;
}

QString PricesModel::priceForPeople(Money price, const QLocale &locale)
{
    QString text = QString::fromLatin1(priceText(price));
    return text.replace(QLatin1Char('.'), locale.decimalPoint());
}

} // namespace tallivo
