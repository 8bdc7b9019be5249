#include "exporter.h"

#include "column.h"
#include "filelist.h"
#include "localpath.h"
#include "savefile.h"
#include "syslogline.h"

#include <QCoreApplication>
#include <QFile>

#include <exception>

namespace tallivo {

namespace {

struct ExportColumn
{
    Column column;
    const char *title;
};

// The export's own order: the accessed date comes before the created one.
constexpr ExportColumn exportColumns[] = {
    {Column::Name, "Name"},
    {Column::Pages, "Pages"},
    {Column::Size, "Size"},
    {Column::Type, "Type"},
    {Column::Modified, "Modified Date"},
    {Column::Accessed, "Accessed Date"},
    {Column::Created, "Created Date"},
    {Column::Location, "Location"},
};

QString exportDate(const QDateTime &date)
{
    if (!date.isValid())
        return QStringLiteral("(null)");
    return date.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" +0000");
}

// Dates in one fixed form and zone, whatever the table shows; names and
// folders as the file system's bytes, made safe for a row.
QByteArray exportField(const FileItem &file, Column column)
{
    switch (column) {
    case Column::Name:
        return escapedForRow(file.nameBytes());
    case Column::Type:
        return escapedForRow(extensionOf(file.nameBytes()));
    case Column::Location:
        return escapedForRow(file.locationBytes());
    case Column::Modified:
        return exportDate(file.dateModified()).toUtf8();
    case Column::Created:
        return exportDate(file.dateCreated()).toUtf8();
    case Column::Accessed:
        return exportDate(file.dateAccessed()).toUtf8();
    default:
        return file.displayField(column).toString().toUtf8();
    }
}

} // namespace

QByteArray exportText(const FileList &files)
{
    QByteArray text;
    const auto addLine = [&text](auto field) {
        for (const ExportColumn &c : exportColumns) {
            if (&c != exportColumns)
                text += '\t';
            text += field(c);
        }
        text += '\n';
    };
    addLine([](const ExportColumn &c) { return QByteArray(c.title); });
    for (int i = 0; i < files.size(); ++i)
        addLine([&](const ExportColumn &c) { return exportField(*files.at(i), c.column); });
    return text;
}

bool exportList(const FileList &files, const QString &path, QString *error)
{
    return exportList(files, QFile::encodeName(path), error);
}

bool exportList(const FileList &files, const QByteArray &path, QString *error)
{
    QByteArray data;
    try {
        data = exportText(files);
    } catch (const std::exception &e) {
        const QString why = QString::fromLocal8Bit(e.what());
        logError("(export)", displayPath(path) + QStringLiteral(": ") + why);
        if (error)
            *error = why;
        return false;
    }
    return writeExport(data, path, error);
}

bool writeExport(const QByteArray &data, const QString &path, QString *error)
{
    return writeExport(data, QFile::encodeName(path), error);
}

bool writeExport(const QByteArray &data, const QByteArray &path, QString *error)
{
    auto fail = [&](QString why) {
        if (why.isEmpty())
            why = QCoreApplication::translate("Exporter", "The file could not be written.");
        logError("(export)", displayPath(path) + QStringLiteral(": ") + why);
        if (error)
            *error = why;
        return false;
    };
    if (path.isEmpty())
        return fail(QCoreApplication::translate("Exporter", "No destination was given."));
    try {
        QString why;
        if (!saveFile(path, data, &why))
            return fail(why);
        return true;
    } catch (const std::exception &e) {
        return fail(QString::fromLocal8Bit(e.what()));
    }
}

} // namespace tallivo
