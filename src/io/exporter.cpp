#include "exporter.h"

#include "filelist.h"
#include "syslogline.h"

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
    QString text = QStringLiteral(
        "Name\tPages\tSize\tType\tModified Date\tAccessed Date\tCreated Date\tLocation\n");
    for (int i = 0; i < files.size(); ++i) {
        const FileItem &f = *files.at(i);
        text += f.name() + QLatin1Char('\t') + QString::number(f.pages()) + QLatin1Char('\t') +
                f.sizeInKB() + QLatin1Char('\t') + f.type() + QLatin1Char('\t') +
                exportDate(f.dateModified()) + QLatin1Char('\t') + exportDate(f.dateAccessed()) +
                QLatin1Char('\t') + exportDate(f.dateCreated()) + QLatin1Char('\t') + f.location() +
                QLatin1Char('\n');
    }
    return text.toUtf8();
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
