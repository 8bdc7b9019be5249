#pragma once

#include <QByteArray>
#include <QString>

namespace tallivo {

class FileList;

// The tab-delimited list: a header, then one line per file in list order.
QByteArray exportText(const FileList &files);

// Writes exportText() to path atomically: the destination is either wholly
// replaced or left as it was. On failure returns false and says why. The
// path is bytes, as the file system knows it.
bool exportList(const FileList &files, const QByteArray &path, QString *error = nullptr);
// The same for a path chosen in a file dialog.
bool exportList(const FileList &files, const QString &path, QString *error = nullptr);
// The writing half of exportList(), for a text made beforehand: any thread.
bool writeExport(const QByteArray &text, const QByteArray &path, QString *error = nullptr);
bool writeExport(const QByteArray &text, const QString &path, QString *error = nullptr);

} // namespace tallivo
