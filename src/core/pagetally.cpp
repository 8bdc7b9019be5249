#include "pagetally.h"

#include "localpath.h"

#include <algorithm>

namespace tallivo {

PageGroup pageGroupOf(const FileItem &item)
{
    // Every tally asks this of every file it adds or takes away: a plain
    // ASCII extension, as nearly every name has, is decided on its bytes.
    // Others go by the upper-cased type of the file.
    const QByteArrayView extension = extensionIn(item.record().name);
    if (std::all_of(extension.begin(), extension.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        const QByteArray &name = item.record().name;
        if (hasPdfExtension(name))
            return PageGroup::Pdf;
        return isCountableName(name) ? PageGroup::Tiff : PageGroup::None;
    }
    const QString upper = item.typeToUpper();
    if (upper == QLatin1String("TIF") || upper == QLatin1String("TIFF"))
        return PageGroup::Tiff;
    if (upper == QLatin1String("PDF"))
        return PageGroup::Pdf;
    return PageGroup::None;
}

void PageTally::apply(const FileItem &item, PageGroup group, int sign)
{
    const qint64 pages = item.pages();
    m_files += sign;
    m_pages.count(group, pages, sign);
    const CountStatus status = item.countStatus();
    if (status != CountStatus::Counted) {
        m_uncounted += sign;
        m_reasons[size_t(status)] += sign;
    }
    if (item.isChecked()) {
        m_checkedFiles += sign;
        m_checkedPages.count(group, pages, sign);
    }
    const PageSummary &summary = item.pageSummary();
    if (summary.isEmpty()) {
        if (pages > 0)
            m_withoutDetails += sign;
    } else if (sign > 0) {
        m_table.add(summary);
    } else {
        m_table.remove(summary);
    }
}

void PageTally::setChecked(const FileItem &item, PageGroup group, bool checked)
{
    if (checked == item.isChecked())
        return;
    const int sign = checked ? 1 : -1;
    m_checkedFiles += sign;
    m_checkedPages.count(group, item.pages(), sign);
}

PageTally &PageTally::merge(const PageTally &other, int sign)
{
    m_files += sign * other.m_files;
    m_uncounted += sign * other.m_uncounted;
    for (size_t i = 0; i < m_reasons.size(); ++i)
        m_reasons[i] += sign * other.m_reasons[i];
    m_withoutDetails += sign * other.m_withoutDetails;
    m_checkedFiles += sign * other.m_checkedFiles;
    if (sign > 0) {
        m_pages += other.m_pages;
        m_checkedPages += other.m_checkedPages;
    } else {
        m_pages -= other.m_pages;
        m_checkedPages -= other.m_checkedPages;
    }
    m_table.merge(other.m_table, sign);
    return *this;
}

} // namespace tallivo
