#pragma once

#include "pagereport.h"

#include <QBuffer>
#include <QByteArray>

#include <vector>

namespace tallivo::test {

// One file's lines of the page listing, as the writer writes them.
inline QByteArray pageListRows(const FilePages &file)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    writePageListRows(buffer, file);
    return buffer.data();
}

// The whole page listing of some files.
inline QByteArray pageListText(const std::vector<FilePages> &files)
{
    QByteArray out = pageListHeader();
    for (const FilePages &f : files)
        out += pageListRows(f);
    return out;
}

} // namespace tallivo::test
