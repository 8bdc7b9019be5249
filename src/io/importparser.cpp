#include "importparser.h"

#include "syslogline.h"
#include "walk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>
#include <QStringTokenizer>

#include <exception>

namespace tallivo {

QString totalFilesFoundText(qsizetype count)
{
    return QStringLiteral("Total Files Found : %1").arg(count);
}

QStringList parseImportText(QStringView text, const QStringList &allowedTypes,
                            const QString &baseDir)
{
    QStringList paths;
    try {
        QSet<QString> allowed;
        for (const QString &type : allowedTypes) {
            if (!type.isEmpty())
                allowed.insert(type.toUpper());
        }
        if (text.isEmpty() || allowed.isEmpty())
            return paths;
        const QDir base(baseDir.isEmpty() ? QDir::currentPath() : baseDir);
        QSet<QString> seen;
        for (QStringView line : QStringTokenizer{text, u'\n'}) {
            if (line.isEmpty() || line.contains(QChar(0)))
                continue;
            QString path = line.toString();
            if (!allowed.contains(pathExtension(path).toUpper()))
                continue;
            if (!path.startsWith(QLatin1Char('/')))
                path = base.absoluteFilePath(path);
            if (seen.contains(path))
                continue;
            seen.insert(path);
            paths.append(path);
        }
    } catch (const std::exception &e) {
        // Out of memory on a monstrous list: keep what was parsed.
        logError("(parseText:)", QString::fromLocal8Bit(e.what()));
    }
    return paths;
}

QStringList parseImportList(const QByteArray &data, const QStringList &allowedTypes,
                            bool *validUtf8, const QString &baseDir)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(data);
    const bool valid = !decoder.hasError();
    if (validUtf8)
        *validUtf8 = valid;
    if (!valid)
        return {};
    return parseImportText(text, allowedTypes, baseDir);
}

std::optional<QByteArray> readImportFile(const QString &path, QString *error)
{
    auto fail = [error](const QString &why) -> std::optional<QByteArray> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const QFileInfo info(path);
    // A device or pipe could be read forever.
    if (!info.isFile())
        return fail(QStringLiteral("\"%1\" is not a file.").arg(path));
    if (info.size() > maxImportFileSize)
        return fail(QStringLiteral("\"%1\" is too large to be a list of files.").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    try {
        QByteArray data = file.read(info.size());
        // The file may have grown since it was measured.
        while (data.size() <= maxImportFileSize) {
            const QByteArray more = file.read(1 << 20);
            if (more.isEmpty())
                break;
            data += more;
        }
        if (data.size() > maxImportFileSize)
            return fail(QStringLiteral("\"%1\" is too large to be a list of files.").arg(path));
        if (file.error() != QFileDevice::NoError)
            return fail(file.errorString());
        return data;
    } catch (const std::exception &e) {
        return fail(QString::fromLocal8Bit(e.what()));
    }
}

QList<QUrl> importUrls(const QStringList &paths)
{
    QList<QUrl> urls;
    urls.reserve(paths.size());
    for (const QString &path : paths)
        urls.append(QUrl::fromLocalFile(path));
    return urls;
}

} // namespace tallivo
