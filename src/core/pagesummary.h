#pragma once

#include "pagedetails.h"

#include <QHash>
#include <QString>

#include <array>
#include <vector>

namespace tallivo {

// One file's pages by size class and colour class, and their A4
// equivalents; small enough to keep on every listed file (one row for most).
class PageSummary
{
public:
    struct Row
    {
        quint32 size = 0; // SizeClass::key()
        qint32 pages = 0;
        qint64 a4Equivalents = 0;
        ColourClass colour = ColourClass::Unknown;

        bool operator==(const Row &) const = default;
    };

    PageSummary() = default;
    // A file of `pageCount` pages of which the first ones are described by
    // `pages`; the rest count as unknown.
    static PageSummary fromPages(const std::vector<PageInfo> &pages, qint32 pageCount);
    // A summary kept before, from its rows as rows() gave them. Returns
    // false, leaving `summary` as it was, unless the rows are such a list:
    // known size and colour classes, some pages each, in rows() order.
    static bool fromRows(std::vector<Row> rows, PageSummary *summary);

    // Sorted by size class, then colour class.
    const std::vector<Row> &rows() const { return m_rows; }
    bool isEmpty() const { return m_rows.empty(); }
    qint64 pages() const;
    qint64 pages(ColourClass colour) const;
    qint64 a4Equivalents() const;

    // Pages per size class, summed over the colour classes, most pages first.
    std::vector<std::pair<SizeClass, qint64>> pagesBySize() const;
    // Keys that sort files by their page details: the size class of most
    // pages, then how many; the A4 equivalents; colour pages, then grey ones.
    quint64 sizesSortKey() const;
    qint64 a4EquivalentsSortKey() const { return a4Equivalents(); }
    quint64 colourSortKey() const;

    bool operator==(const PageSummary &) const = default;

private:
    std::vector<Row> m_rows;
};

// Pages of many files by size class and colour class. Files are added and
// taken out one at a time, so a running total over a list costs nothing per
// file already counted.
class PageTable
{
public:
    struct Row
    {
        SizeClass size;
        std::array<qint64, kColourClassCount> pages{}; // indexed by ColourClass
        qint64 total = 0;
        qint64 a4Equivalents = 0;
    };

    void add(const PageSummary &summary) { apply(summary, 1); }
    void remove(const PageSummary &summary) { apply(summary, -1); }
    // Adds (sign 1) or takes away (sign -1) another table's files.
    void merge(const PageTable &other, int sign);
    void clear();

    // One row per size class with pages, in SizeClass order.
    std::vector<Row> rows() const;
    // The sums of all rows.
    Row totals() const;
    qint64 files() const { return m_files; }
    bool isEmpty() const { return m_cells.isEmpty(); }

    bool operator==(const PageTable &) const = default;

private:
    struct Cell
    {
        qint64 pages = 0;
        qint64 a4Equivalents = 0;

        bool operator==(const Cell &) const = default;
    };
    void addCell(quint64 key, qint64 pages, qint64 a4Equivalents);
    void apply(const PageSummary &summary, int sign);

    QHash<quint64, Cell> m_cells; // size key << 8 | colour
    qint64 m_files = 0;
};

} // namespace tallivo
