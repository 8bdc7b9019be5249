#pragma once

#include "fileitem.h"
#include "pagecount.h"
#include "pagesummary.h"

#include <array>

namespace tallivo {

// Which page total a file adds to, by its upper-cased extension.
enum class PageGroup : quint8
{
    None,
    Tiff,
    Pdf
};
PageGroup pageGroupOf(const FileItem &item);

// 64-bit: a million files of a few thousand pages each pass 2^31.
struct PageTotals
{
    qint64 tiffPages = 0;
    qint64 pdfPages = 0;

    // Adds (sign 1) or takes away (sign -1) a file's pages in its group.
    void count(PageGroup group, qint64 pages, int sign)
    {
        if (group == PageGroup::Tiff)
            tiffPages += sign * pages;
        else if (group == PageGroup::Pdf)
            pdfPages += sign * pages;
    }
    qint64 all() const { return tiffPages + pdfPages; }
    PageTotals &operator+=(const PageTotals &other)
    {
        tiffPages += other.tiffPages;
        pdfPages += other.pdfPages;
        return *this;
    }
    PageTotals &operator-=(const PageTotals &other)
    {
        tiffPages -= other.tiffPages;
        pdfPages -= other.pdfPages;
        return *this;
    }
    bool operator==(const PageTotals &) const = default;
};

// The figures of a set of files: a list, a selection, one job. Every file
// is added or taken away at a constant cost (its page details' few rows
// apart), and tallies of sets apart add up, so that nobody counts the same
// pages twice. Numbers only: the texts are the reader's.
class PageTally
{
public:
    // The group is passed where the caller keeps it: deciding it is the
    // dearest part of a file's share.
    void add(const FileItem &item) { apply(item, pageGroupOf(item), 1); }
    void add(const FileItem &item, PageGroup group) { apply(item, group, 1); }
    void remove(const FileItem &item) { apply(item, pageGroupOf(item), -1); }
    void remove(const FileItem &item, PageGroup group) { apply(item, group, -1); }
    // A file's check box changed to `checked`, nothing else.
    void setChecked(const FileItem &item, PageGroup group, bool checked);
    PageTally &operator+=(const PageTally &other) { return merge(other, 1); }
    PageTally &operator-=(const PageTally &other) { return merge(other, -1); }
    void clear() { *this = PageTally(); }

    qint64 files() const { return m_files; }
    bool isEmpty() const { return m_files == 0; }
    // Pages by type, as the status line and the totals line give them.
    const PageTotals &pages() const { return m_pages; }
    // Pages by size and colour class, of the files with page details.
    const PageTable &table() const { return m_table; }
    qint64 a4Equivalents() const { return m_table.totals().a4Equivalents; }
    // Files whose pages could not be read (they count what was read).
    qint64 uncounted() const { return m_uncounted; }
    qint64 uncounted(CountStatus why) const { return m_reasons[size_t(why)]; }
    // Files with pages but no page details: counted while details were off.
    qint64 withoutDetails() const { return m_withoutDetails; }
    qint64 checkedFiles() const { return m_checkedFiles; }
    const PageTotals &checkedPages() const { return m_checkedPages; }

    static bool isUncounted(const FileItem &item)
    {
        return item.countStatus() != CountStatus::Counted;
    }
    static bool lacksDetails(const FileItem &item)
    {
        return item.pages() > 0 && item.pageSummary().isEmpty();
    }

    bool operator==(const PageTally &) const = default;

private:
    void apply(const FileItem &item, PageGroup group, int sign);
    PageTally &merge(const PageTally &other, int sign);

    qint64 m_files = 0;
    PageTotals m_pages;
    qint64 m_uncounted = 0;
    std::array<qint64, size_t(kLastCountStatus) + 1> m_reasons{};
    qint64 m_withoutDetails = 0;
    qint64 m_checkedFiles = 0;
    PageTotals m_checkedPages;
    PageTable m_table;
};

} // namespace tallivo
