#include "importparser.h"

#include "syslogline.h"
#include "walk.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>
#include <QStringTokenizer>

#include <exception>

namespace tallivo {

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

namespace {

// Anything bigger is not taken for a list of files.
constexpr qint64 maxImportFileSize = qint64(512) * 1024 * 1024;

bool readImportFile(const QString &path, QByteArray *data, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    auto tooLarge = [&] {
        return fail(QCoreApplication::translate("ImportParser",
                                                "\"%1\" is too large to be a list of files.")
                        .arg(path));
    };
    const QFileInfo info(path);
    // A device or pipe could be read forever.
    if (!info.isFile())
        return fail(QCoreApplication::translate("ImportParser", "\"%1\" is not a file.").arg(path));
    if (info.size() > maxImportFileSize)
        return tooLarge();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    try {
        QByteArray content = file.read(info.size());
        // The file may have grown since it was measured.
        while (content.size() <= maxImportFileSize) {
            const QByteArray more = file.read(1 << 20);
            if (more.isEmpty())
                break;
            content += more;
        }
        if (content.size() > maxImportFileSize)
            return tooLarge();
        if (file.error() != QFileDevice::NoError)
            return fail(file.errorString());
        *data = std::move(content);
        return true;
    } catch (const std::exception &e) {
        return fail(QString::fromLocal8Bit(e.what()));
    }
}

} // namespace

QStringList parseImportFile(const QString &path, const QStringList &allowedTypes, QString *error)
{
    QByteArray data;
    if (!readImportFile(path, &data, error))
        return {};
    return parseImportList(data, allowedTypes);
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
