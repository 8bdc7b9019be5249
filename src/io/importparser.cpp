#include "importparser.h"

#include "fileio.h"
#include "localpath.h"
#include "syslogline.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <exception>

namespace tallivo {

QList<QByteArray> parseImportList(QByteArrayView data, const QByteArray &baseDir)
{
    QList<QByteArray> paths;
    try {
        if (data.startsWith("\xef\xbb\xbf"))
            data = data.sliced(3);
        if (data.isEmpty())
            return paths;
        // Lines are paths as the file system knows them: bytes, whatever
        // their encoding. Relative ones are joined to the base as bytes, so
        // that no line is ever taken for anything but a file.
        const QByteArray base = baseDir.isEmpty() ? currentFolder() : baseDir;
        QSet<QByteArray> seen;
        qsizetype start = 0;
        while (start <= data.size()) {
            qsizetype end = data.indexOf('\n', start);
            if (end < 0)
                end = data.size();
            const QByteArrayView line = data.sliced(start, end - start);
            start = end + 1;
            if (line.isEmpty() || line.contains('\0'))
                continue;
            if (!isCountableName(line))
                continue;
            // Tidied as a command line's paths are; ".." is left to the kernel.
            QByteArray path = absolutePath(line, base);
            if (seen.contains(path))
                continue;
            seen.insert(path);
            paths.append(std::move(path));
        }
    } catch (const std::exception &e) {
        // Out of memory on a monstrous list: keep what was parsed.
        logError("(parseText:)", QString::fromLocal8Bit(e.what()));
    }
    return paths;
}

QList<QByteArray> parseImportText(QStringView text, const QByteArray &baseDir)
{
    return parseImportList(text.toUtf8(), baseDir);
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

QList<QByteArray> parseImportFile(const QString &path, QString *error)
{
    QByteArray data;
    if (!readImportFile(path, &data, error))
        return {};
    return parseImportList(data);
}

QList<QUrl> importUrls(const QList<QByteArray> &paths)
{
    QList<QUrl> urls;
    urls.reserve(paths.size());
    for (const QByteArray &path : paths)
        urls.append(urlFromLocalPath(path));
    return urls;
}

} // namespace tallivo
