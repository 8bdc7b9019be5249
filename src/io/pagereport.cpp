#include "pagereport.h"

#include "localpath.h"
#include "savefile.h"

#include <QFile>
#include <QStringList>

namespace tallivo {
namespace {

constexpr ColourClass kColourColumns[] = {ColourClass::BlackWhite, ColourClass::Grey,
                                          ColourClass::Colour, ColourClass::Unknown};

QStringList tableHeader()
{
    QStringList header{QStringLiteral("Size")};
    for (ColourClass c : kColourColumns)
        header << colourLabel(c);
    header << QStringLiteral("Total") << QStringLiteral("A4 eq.");
    return header;
}

QStringList tableCells(const QString &label, const PageTable::Row &row)
{
    QStringList cells{label};
    for (ColourClass c : kColourColumns)
        cells << QString::number(row.pages[size_t(c)]);
    cells << QString::number(row.total) << QString::number(row.a4Equivalents);
    return cells;
}

QByteArray csvField(const QString &text)
{
    QByteArray field = text.toUtf8();
    if (field.contains(',') || field.contains('"') || field.contains('\n') ||
        field.contains('\r')) {
        field.replace('"', "\"\"");
        field = '"' + field + '"';
    }
    return field;
}

} // namespace

QByteArray pageListHeader()
{
    return "Path\tPage\tWidth mm\tHeight mm\tSize\tA4 eq.\tColour\n";
}

QByteArray escapedPath(const QByteArray &path)
{
    return escapedForRow(path);
}

bool writePageListRows(QIODevice &out, const FilePages &file)
{
    QByteArray path = localPath(file.url);
    if (path.isEmpty())
        path = file.url.toEncoded();
    QByteArray chunk;
    return writePageListRows(out, path, file.pageCount, &file.pages, chunk) &&
           (chunk.isEmpty() || out.write(chunk) == chunk.size());
}

bool writePageListRows(QIODevice &out, const QByteArray &path, qint32 pageCount,
                       const std::vector<PageInfo> *pages, QByteArray &chunk)
{
    const QByteArray prefix = escapedPath(path) + '\t';
    const auto flush = [&out, &chunk] {
        const bool ok = chunk.isEmpty() || out.write(chunk) == chunk.size();
        chunk.clear();
        return ok;
    };
    const size_t described = pages ? pages->size() : 0;
    // A file without pages (or whose pages could not be counted) still has
    // its line, page 0, so that the listing names every file it was given.
    if (pageCount <= 0) {
        chunk += prefix + "0\t\t\t\t0\t\n";
        return chunk.size() < 64 * 1024 || flush();
    }
    for (qint32 i = 0; i < pageCount; ++i) {
        const PageInfo page = size_t(i) < described ? (*pages)[size_t(i)] : PageInfo();
        const SizeClass size = SizeClass::classify(page.widthMm, page.heightMm);
        const bool known = !size.isUnknown();
        chunk += prefix;
        chunk += QByteArray::number(i + 1) + '\t';
        if (known)
            chunk += QByteArray::number(page.widthMm, 'f', 1) + '\t' +
                     QByteArray::number(page.heightMm, 'f', 1) + '\t';
        else
            chunk += "\t\t";
        chunk += size.label().toUtf8() + '\t';
        chunk += QByteArray::number(a4Equivalents(known ? page : PageInfo())) + '\t';
        chunk += colourLabel(page.colour).toUtf8() + '\n';
        if (chunk.size() >= 64 * 1024 && !flush())
            return false;
    }
    return true;
}

QString pageTableText(const PageTable &table)
{
    QList<QStringList> lines{tableHeader()};
    for (const PageTable::Row &row : table.rows())
        lines << tableCells(row.size.label(), row);
    lines << tableCells(QStringLiteral("Total"), table.totals());
    QList<qsizetype> widths(lines.front().size(), 0);
    for (const QStringList &cells : lines)
        for (qsizetype i = 0; i < cells.size(); ++i)
            widths[i] = qMax(widths[i], cells[i].size());
    QString out;
    for (const QStringList &cells : lines) {
        QString line = cells[0].leftJustified(widths[0]);
        for (qsizetype i = 1; i < cells.size(); ++i)
            line += QStringLiteral("  ") + cells[i].rightJustified(widths[i]);
        out += line + QLatin1Char('\n');
    }
    return out;
}

QByteArray pageTableCsv(const PageTable &table)
{
    QList<QStringList> lines{tableHeader()};
    for (const PageTable::Row &row : table.rows())
        lines << tableCells(row.size.label(), row);
    lines << tableCells(QStringLiteral("Total"), table.totals());
    QByteArray out;
    for (const QStringList &cells : lines) {
        QByteArrayList fields;
        for (const QString &cell : cells)
            fields << csvField(cell);
        out += fields.join(',') + '\n';
    }
    return out;
}

bool savePageTableCsv(const PageTable &table, const QString &path, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why.isEmpty() ? QStringLiteral("The file could not be written.") : why;
        return false;
    };
    if (path.isEmpty())
        return fail(QStringLiteral("No destination was given."));
    QString why;
    if (!saveFile(QFile::encodeName(path), pageTableCsv(table), &why))
        return fail(why);
    return true;
}

} // namespace tallivo
