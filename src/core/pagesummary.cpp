#include "pagesummary.h"

#include <algorithm>

namespace tallivo {

PageSummary PageSummary::fromPages(const std::vector<PageInfo> &pages, qint32 pageCount)
{
    PageSummary summary;
    struct Keyed
    {
        quint64 key; // size << 8 | colour
        qint32 a4;
    };
    const size_t described = qMin(pages.size(), size_t(qMax(pageCount, 0)));
    std::vector<Keyed> keyed;
    keyed.reserve(described);
    for (size_t i = 0; i < described; ++i) {
        const PageInfo &p = pages[i];
        const SizeClass size = SizeClass::classify(p.widthMm, p.heightMm);
        const PageInfo counted = size.isUnknown() ? PageInfo{0, 0, p.colour} : p;
        keyed.push_back(
            {quint64(size.key()) << 8 | quint8(p.colour), tallivo::a4Equivalents(counted)});
    }
    // Sorting first keeps a file of thousands of different sizes linear-ish.
    std::sort(keyed.begin(), keyed.end(),
              [](const Keyed &a, const Keyed &b) { return a.key < b.key; });
    for (const Keyed &k : keyed) {
        if (summary.m_rows.empty() || (quint64(summary.m_rows.back().size) << 8 |
                                       quint8(summary.m_rows.back().colour)) != k.key) {
            summary.m_rows.push_back(
                {quint32(k.key >> 8), 0, 0, ColourClass(quint8(k.key & 0xff))});
        }
        ++summary.m_rows.back().pages;
        summary.m_rows.back().a4Equivalents += k.a4;
    }
    const qint64 rest = qint64(qMax(pageCount, 0)) - qint64(described);
    if (rest > 0) {
        auto unknown = std::find_if(summary.m_rows.begin(), summary.m_rows.end(), [](const Row &r) {
            return r.size == SizeClass().key() && r.colour == ColourClass::Unknown;
        });
        if (unknown == summary.m_rows.end())
            unknown = summary.m_rows.insert(summary.m_rows.end(),
                                            Row{SizeClass().key(), 0, 0, ColourClass::Unknown});
        unknown->pages += qint32(rest);
        unknown->a4Equivalents += rest;
    }
    // Key order puts unknown sizes first; the SizeClass order puts them last.
    std::stable_sort(summary.m_rows.begin(), summary.m_rows.end(), [](const Row &a, const Row &b) {
        return SizeClass::fromKey(a.size) < SizeClass::fromKey(b.size);
    });
    summary.m_rows.shrink_to_fit();
    return summary;
}

bool PageSummary::fromRows(std::vector<Row> rows, PageSummary *summary)
{
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row &row = rows[i];
        if (SizeClass::fromKey(row.size).key() != row.size ||
            quint8(row.colour) >= kColourClassCount || row.pages <= 0 || row.a4Equivalents < 0)
            return false;
        if (i > 0) {
            const Row &before = rows[i - 1];
            const auto beforeSize = SizeClass::fromKey(before.size);
            const auto size = SizeClass::fromKey(row.size);
            if (!(beforeSize < size || (beforeSize == size && before.colour < row.colour)))
                return false;
        }
    }
    summary->m_rows = std::move(rows);
    summary->m_rows.shrink_to_fit();
    return true;
}

qint64 PageSummary::pages() const
{
    qint64 n = 0;
    for (const Row &r : m_rows)
        n += r.pages;
    return n;
}

qint64 PageSummary::pages(ColourClass colour) const
{
    qint64 n = 0;
    for (const Row &r : m_rows)
        if (r.colour == colour)
            n += r.pages;
    return n;
}

qint64 PageSummary::a4Equivalents() const
{
    qint64 n = 0;
    for (const Row &r : m_rows)
        n += r.a4Equivalents;
    return n;
}

std::vector<std::pair<SizeClass, qint64>> PageSummary::pagesBySize() const
{
    std::vector<std::pair<SizeClass, qint64>> sizes;
    for (const Row &r : m_rows) {
        const SizeClass size = SizeClass::fromKey(r.size);
        if (!sizes.empty() && sizes.back().first == size)
            sizes.back().second += r.pages;
        else
            sizes.push_back({size, r.pages});
    }
    std::stable_sort(sizes.begin(), sizes.end(),
                     [](const auto &a, const auto &b) { return a.second > b.second; });
    return sizes;
}

quint64 PageSummary::sizesSortKey() const
{
    const auto sizes = pagesBySize();
    if (sizes.empty())
        return 0;
    // Unknown sizes order last; named ones and other ones fit in 32 bits.
    const SizeClass size = sizes.front().first;
    const quint64 order = size.isUnknown() ? 0xffffffffu : size.key();
    return order << 31 | quint64(qMin<qint64>(sizes.front().second, 0x7fffffff));
}

quint64 PageSummary::colourSortKey() const
{
    const auto clamp = [](qint64 n) { return quint64(qMin<qint64>(n, 0x7fffffff)); };
    return clamp(pages(ColourClass::Colour)) << 32 | clamp(pages(ColourClass::Grey));
}

void PageTable::clear()
{
    m_cells.clear();
    m_files = 0;
}

void PageTable::apply(const PageSummary &summary, int sign)
{
    if (summary.isEmpty())
        return;
    for (const PageSummary::Row &r : summary.rows())
        addCell(quint64(r.size) << 8 | quint8(r.colour), sign * qint64(r.pages),
                sign * r.a4Equivalents);
    m_files += sign;
}

void PageTable::addCell(quint64 key, qint64 pages, qint64 a4Equivalents)
{
    Cell &cell = m_cells[key];
    cell.pages += pages;
    cell.a4Equivalents += a4Equivalents;
    // A cell that no page is left in goes, so that equal tables compare equal.
    if (cell.pages == 0 && cell.a4Equivalents == 0)
        m_cells.remove(key);
}

void PageTable::merge(const PageTable &other, int sign)
{
    for (auto it = other.m_cells.cbegin(); it != other.m_cells.cend(); ++it)
        addCell(it.key(), sign * it->pages, sign * it->a4Equivalents);
    m_files += sign * other.m_files;
}

std::vector<PageTable::Row> PageTable::rows() const
{
    std::vector<std::pair<quint64, Cell>> cells;
    cells.reserve(size_t(m_cells.size()));
    for (auto it = m_cells.cbegin(); it != m_cells.cend(); ++it)
        cells.push_back({it.key(), it.value()});
    std::vector<Row> rows;
    std::sort(cells.begin(), cells.end(), [](const auto &a, const auto &b) {
        return SizeClass::fromKey(quint32(a.first >> 8)) <
               SizeClass::fromKey(quint32(b.first >> 8));
    });
    for (const auto &[key, cell] : cells) {
        const SizeClass size = SizeClass::fromKey(quint32(key >> 8));
        if (rows.empty() || !(rows.back().size == size))
            rows.push_back(Row{size, {}, 0, 0});
        const int colour = int(key & 0xff);
        if (colour < kColourClassCount)
            rows.back().pages[size_t(colour)] += cell.pages;
        rows.back().total += cell.pages;
        rows.back().a4Equivalents += cell.a4Equivalents;
    }
    return rows;
}

PageTable::Row PageTable::totals() const
{
    Row sum;
    for (const Row &r : rows()) {
        for (size_t c = 0; c < sum.pages.size(); ++c)
            sum.pages[c] += r.pages[c];
        sum.total += r.total;
        sum.a4Equivalents += r.a4Equivalents;
    }
    return sum;
}

} // namespace tallivo
