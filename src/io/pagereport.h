#pragma once

#include "pagedetails.h"
#include "pagesummary.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

class QIODevice;

#include <vector>

namespace tallivo {

// One file's pages for the per-page listing: its count, and descriptions
// of the first pages (all of them unless capped).
struct FilePages
{
    QUrl url;
    qint32 pageCount = 0;
    std::vector<PageInfo> pages;
};

// The per-page listing, tab-separated: a header line, then one line per
// page: path, page number from 1, width and height in millimetres to one
// decimal (empty when unknown), size class, A4 equivalents, colour class. A
// file without pages has one line: page 0, A4 equivalents 0, the rest empty.
// Paths are the file's bytes, escaped as in the export (escapedForRow()).
QByteArray pageListHeader();
// Writes one file's lines to `out` a few thousand at a time, so a file of a
// million pages needs no buffer of its size; false when a write fails.
bool writePageListRows(QIODevice &out, const FilePages &file);
// The same for a file given by its path, gathering the lines in `chunk` and
// writing only once 64 KiB have gathered, so that a list of many small files
// takes few writes; the caller writes what is left in `chunk` at the end.
bool writePageListRows(QIODevice &out, const QByteArray &path, qint32 pageCount,
                       const std::vector<PageInfo> *pages, QByteArray &chunk);
// A path's bytes as the listing writes them.
QByteArray escapedPath(const QByteArray &path);

// The page table as aligned text, one size class a line with pages per
// colour class, the total and A4 equivalents, and a total line.
QString pageTableText(const PageTable &table);
// The same table as comma-separated values with a header line.
QByteArray pageTableCsv(const PageTable &table);
// Writes pageTableCsv() to path, wholly or not at all. On failure returns
// false and says why.
bool savePageTableCsv(const PageTable &table, const QString &path, QString *error = nullptr);

} // namespace tallivo
