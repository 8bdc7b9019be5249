#include "exporter.h"

#include "filelist.h"
#include "localpath.h"
#include "syslogline.h"
#include "walk.h"

#include <QSaveFile>

#include <exception>

namespace tallivo {

namespace {

QString exportDate(const QDateTime &date)
{
    if (!date.isValid())
        return QStringLiteral("(null)");
    return date.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" +0000");
}

} // namespace

QByteArray exportText(const FileList &files)
{
    QByteArray text(
        "Name\tPages\tSize\tType\tModified Date\tAccessed Date\tCreated Date\tLocation\n");
    for (int i = 0; i < files.size(); ++i) {
        const FileItem &f = *files.at(i);
        // Names and folders are the file system's bytes, made safe for a row.
        text += escapedForRow(f.nameBytes());
        text += '\t';
        text += QByteArray::number(f.pages());
        text += '\t';
        text += f.sizeInKB().toUtf8();
        text += '\t';
        text += escapedForRow(pathExtension(f.nameBytes()));
        text += '\t';
        text += exportDate(f.dateModified()).toUtf8();
        text += '\t';
        text += exportDate(f.dateAccessed()).toUtf8();
        text += '\t';
        text += exportDate(f.dateCreated()).toUtf8();
        text += '\t';
        text += escapedForRow(f.locationBytes());
        text += '\n';
    }
    return text;
}

bool exportList(const FileList &files, const QString &path, QString *error)
{
    auto fail = [&](QString why) {
        if (why.isEmpty())
            why = QStringLiteral("The file could not be written.");
        logError("(export)", path + QStringLiteral(": ") + why);
        if (error)
            *error = why;
        return false;
    };
    if (path.isEmpty())
        return fail(QStringLiteral("No destination was given."));
    try {
        const QByteArray data = exportText(files);
        QSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.commit())
            return fail(out.errorString());
        return true;
    } catch (const std::exception &e) {
        return fail(QString::fromLocal8Bit(e.what()));
    }
}

} // namespace tallivo
