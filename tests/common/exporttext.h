#pragma once

#include "exporter.h"
#include "filelist.h"

#include <QByteArray>
#include <QFile>
#include <QString>

namespace tallivo::test {

// The whole export of a list, as the writer lays it out.
inline QByteArray exportText(const FileList &files)
{
    QByteArray text = exportHeader();
    for (int i = 0; i < files.size(); ++i)
        appendExportRow(text, files.at(i)->record());
    return text;
}

// Writes the export of a list as the program does, through ExportWriter.
inline bool exportList(const FileList &files, const QByteArray &path, QString *error = nullptr)
{
    ExportWriter writer(path);
    if (writer.open()) {
        for (int i = 0; i < files.size(); ++i)
            writer.add(files.at(i)->record());
    }
    return writer.commit(error);
}
inline bool exportList(const FileList &files, const QString &path, QString *error = nullptr)
{
    return exportList(files, QFile::encodeName(path), error);
}

} // namespace tallivo::test
