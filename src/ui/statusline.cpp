#include "statusline.h"

#include "filelist.h"

#include <QItemSelectionModel>

#include <vector>

namespace tallivo {

QString totalPagesText(const FileList &files)
{
    const PageTotals t = files.totals();
    return QStringLiteral("Total Pages TIFF : %1 PDF : %2").arg(t.tiffPages).arg(t.pdfPages);
}

QString totalFilesText(const FileList &files, const QList<int> &selectedRows)
{
    const PageTotals t = files.totalsOf(selectedRows);
    return QStringLiteral("%1 Total file(s); %2 file selected; Total page count of selected TIFF "
                          "file(s) : %3 PDF file(s) : %4")
        .arg(files.size())
        .arg(selectedRows.size())
        .arg(t.tiffPages)
        .arg(t.pdfPages);
}

QList<int> selectedRowIndexes(const QItemSelectionModel *selection)
{
    QList<int> rows;
    if (!selection || !selection->model())
        return rows;
    const int count = selection->model()->rowCount();
    std::vector<bool> seen(size_t(qMax(count, 0)), false);
    for (const QItemSelectionRange &range : selection->selection()) {
        for (int row = qMax(range.top(), 0); row <= range.bottom() && row < count; ++row)
            seen[size_t(row)] = true;
    }
    for (int row = 0; row < count; ++row) {
        if (seen[size_t(row)])
            rows.append(row);
    }
    return rows;
}

} // namespace tallivo
