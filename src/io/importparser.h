#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QUrl>

#include <optional>

namespace tallivo {

// The label under the import inputs: "Total Files Found : <count>".
QString totalFilesFoundText(qsizetype count);

// The paths of a list of lines, split at "\n" only and taken as they are (no
// trimming, so a trailing "\r" or blank spoils the extension). A line is kept
// when its extension, compared without regard to letter case, is one of
// allowedTypes; empty lines and repeats are dropped; order is kept. Relative
// lines are taken relative to baseDir (the current folder when empty), so the
// result holds absolute paths. Lines holding a NUL character name no file and
// are dropped. Linear in the size of the text.
QStringList parseImportText(QStringView text, const QStringList &allowedTypes,
                            const QString &baseDir = QString());

// The same for the bytes of a list file. Anything that is not valid UTF-8
// yields no paths at all; a leading byte-order mark is skipped.
QStringList parseImportList(const QByteArray &data, const QStringList &allowedTypes,
                            bool *validUtf8 = nullptr, const QString &baseDir = QString());

// The largest list file read; anything bigger is treated as unreadable.
inline constexpr qint64 maxImportFileSize = qint64(512) * 1024 * 1024;

// The whole content of a regular file of at most maxImportFileSize bytes, or
// nothing, with the reason, when it cannot be read.
std::optional<QByteArray> readImportFile(const QString &path, QString *error = nullptr);

// File URLs of absolute paths, in order.
QList<QUrl> importUrls(const QStringList &paths);

} // namespace tallivo
