#pragma once

#include <QList>
#include <QString>

class QItemSelectionModel;

namespace tallivo {

class FileList;

// "Total Pages TIFF : t PDF : p" over the whole list.
QString totalPagesText(const FileList &files);
// File count, selected count and the selected rows' page totals.
QString totalFilesText(const FileList &files, const QList<int> &selectedRows);
// The selected rows, ascending, each once; read from the selection ranges so
// that a select-all of 100,000 rows costs no more than a loop over them.
QList<int> selectedRowIndexes(const QItemSelectionModel *selection);

} // namespace tallivo
