#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QUrl>

namespace tallivo {

// The paths of a list of lines, split at "\n" only and taken as they are
// (no trimming, so a trailing "\r" or blank spoils the extension): bytes,
// whatever their encoding, as file names are. A line is kept when it names
// a countable file (isCountableName); empty lines and repeats are dropped;
// order is kept. Relative lines are taken relative to baseDir (the current
// folder when empty), so the result holds absolute paths, tidied as every
// path is (tidyPath). Lines holding a NUL byte name no file and are dropped;
// so are lines with a name between slashes longer than any file name can be
// (NAME_MAX), counted in `tooLong`. A leading byte-order mark is skipped.
// Linear in the size of the text.
//
// The lists this program writes are read back too, recognised by their
// header line: the export takes each row's "Location" and "Name" columns,
// the page listing (--pages) each row's "Path", once per file. Their fields
// are unescaped as escapedForRow() wrote them, and a carriage return ending
// a row is dropped.
QList<QByteArray> parseImportList(QByteArrayView data, const QByteArray &baseDir = {},
                                  qsizetype *tooLong = nullptr);
// The same for pasted text.
QList<QByteArray> parseImportText(QStringView text, const QByteArray &baseDir = {},
                                  qsizetype *tooLong = nullptr);

// The same for a list file: a regular file of at most 512 MiB, read whole.
// No paths when it cannot be read, and the reason.
QList<QByteArray> parseImportFile(const QString &path, QString *error = nullptr,
                                  qsizetype *tooLong = nullptr);

// File URLs of absolute paths, in order.
QList<QUrl> importUrls(const QList<QByteArray> &paths);

} // namespace tallivo
