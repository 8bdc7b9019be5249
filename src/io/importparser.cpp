#include "importparser.h"

#include "fileio.h"
#include "localpath.h"
#include "syslogline.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSet>

#include <cerrno>
#include <climits>
#include <exception>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace tallivo {

namespace {

// The lists this program writes, recognised by their header line: the
// export (a file's name and folder in the columns "Name" and "Location")
// and the page listing (its path in "Path", one row per page).
struct TableLayout
{
    enum Kind
    {
        Lines, // one path a line
        Export,
        PageList
    };
    Kind kind = Lines;
    int nameColumn = -1;     // Export
    int locationColumn = -1; // Export
};

// A line without the carriage return a spreadsheet may have added: in the
// tables this program writes, a carriage return inside a field is escaped.
QByteArrayView withoutCr(QByteArrayView line)
{
    return line.endsWith('\r') ? line.chopped(1) : line;
}

TableLayout layoutOf(QByteArrayView header)
{
    TableLayout layout;
    int column = 0;
    qsizetype start = 0;
    header = withoutCr(header);
    for (;;) {
        qsizetype end = header.indexOf('\t', start);
        if (end < 0)
            end = header.size();
        const QByteArrayView title = header.sliced(start, end - start);
        if (title == "Name" && layout.nameColumn < 0)
            layout.nameColumn = column;
        else if (title == "Location" && layout.locationColumn < 0)
            layout.locationColumn = column;
        else if (column == 0 && title == "Path" && header.sliced(end).startsWith("\tPage\t"))
            return {TableLayout::PageList};
        if (end == header.size())
            break;
        start = end + 1;
        ++column;
    }
    if (layout.nameColumn >= 0 && layout.locationColumn >= 0 && column > 0)
        layout.kind = TableLayout::Export;
    return layout;
}

// Field `column` of a tab-separated line; nullopt when the line is shorter.
std::optional<QByteArrayView> fieldOf(QByteArrayView line, int column)
{
    qsizetype start = 0;
    for (int i = 0; i < column; ++i) {
        start = line.indexOf('\t', start);
        if (start < 0)
            return std::nullopt;
        ++start;
    }
    qsizetype end = line.indexOf('\t', start);
    if (end < 0)
        end = line.size();
    return line.sliced(start, end - start);
}

// A field's bytes as they were before escapedForRow(). That escapes only
// fields holding a control character, and leaves a backslash alone in any
// other, so a field is read as escaped only where unescaping gives a control
// character and escaping the result gives the field back; otherwise its
// backslashes are the name's own.
QByteArray unescapedField(QByteArrayView field)
{
    if (!field.contains('\\'))
        return field.toByteArray();
    QByteArray out;
    out.reserve(field.size());
    bool control = false;
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i + 1 == field.size())
            return field.toByteArray();
        const char e = field[++i];
        if (e == 't' || e == 'n' || e == 'r') {
            out += e == 't' ? '\t' : e == 'n' ? '\n' : '\r';
            control = true;
        } else if (e == '\\') {
            out += '\\';
        } else if (e == 'x' && i + 2 < field.size()) {
            bool ok = false;
            const int value = field.sliced(i + 1, 2).toByteArray().toInt(&ok, 16);
            if (!ok || value < 0)
                return field.toByteArray();
            out += char(value);
            control = control || value < 0x20 || value == 0x7f;
            i += 2;
        } else {
            return field.toByteArray();
        }
    }
    if (!control || escapedForRow(out) != field)
        return field.toByteArray();
    return out;
}

// The path a line of `layout` names, before tidying; empty for none.
QByteArray pathOfLine(QByteArrayView line, const TableLayout &layout)
{
    switch (layout.kind) {
    case TableLayout::Lines:
        return line.toByteArray();
    case TableLayout::PageList: {
        const auto path = fieldOf(withoutCr(line), 0);
        return path ? unescapedField(*path) : QByteArray();
    }
    case TableLayout::Export: {
        line = withoutCr(line);
        const auto name = fieldOf(line, layout.nameColumn);
        const auto location = fieldOf(line, layout.locationColumn);
        if (!name || !location || name->isEmpty())
            return {};
        const QByteArray folder = unescapedField(*location);
        const QByteArray file = unescapedField(*name);
        // A name with a slash is no name: the row was not written here.
        if (file.contains('/'))
            return {};
        return folder.isEmpty() ? file : childPath(folder, file);
    }
    }
    return {};
}

// Whether a name between slashes is longer than a file name can be: no file
// has such a path, and a line of megabytes is no path.
bool hasOverlongName(QByteArrayView path)
{
    qsizetype start = 0;
    while (start < path.size()) {
        qsizetype end = path.indexOf('/', start);
        if (end < 0)
            end = path.size();
        if (end - start > NAME_MAX)
            return true;
        start = end + 1;
    }
    return false;
}

} // namespace

QList<QByteArray> parseImportList(QByteArrayView data, const QByteArray &baseDir,
                                  qsizetype *tooLong)
{
    QList<QByteArray> paths;
    qsizetype overlong = 0;
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
        TableLayout layout;
        qsizetype start = 0;
        for (bool first = true; start <= data.size(); first = false) {
            qsizetype end = data.indexOf('\n', start);
            if (end < 0)
                end = data.size();
            const QByteArrayView line = data.sliced(start, end - start);
            start = end + 1;
            if (first) {
                layout = layoutOf(line);
                if (layout.kind != TableLayout::Lines)
                    continue;
            }
            if (line.isEmpty() || line.contains('\0'))
                continue;
            // Before a line of megabytes is copied.
            if (layout.kind == TableLayout::Lines && hasOverlongName(line)) {
                ++overlong;
                continue;
            }
            const QByteArray named = pathOfLine(line, layout);
            if (named.isEmpty() || named.contains('\0'))
                continue;
            if (hasOverlongName(named)) {
                ++overlong;
                continue;
            }
            if (!isCountableName(named))
                continue;
            // Tidied as a command line's paths are; ".." is left to the kernel.
            QByteArray path = absolutePath(named, base);
            if (seen.contains(path))
                continue;
            seen.insert(path);
            paths.append(std::move(path));
        }
    } catch (const std::exception &e) {
        // Out of memory on a monstrous list: keep what was parsed.
        logError("(parseText:)", QString::fromLocal8Bit(e.what()));
    }
    if (tooLong)
        *tooLong = overlong;
    return paths;
}

QList<QByteArray> parseImportText(QStringView text, const QByteArray &baseDir, qsizetype *tooLong)
{
    return parseImportList(text.toUtf8(), baseDir, tooLong);
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
    auto notAFile = [&] {
        return fail(QCoreApplication::translate("ImportParser", "\"%1\" is not a file.").arg(path));
    };
    // Through the file layer, as every path is: its bytes, of any length.
    const QByteArray bytes = QFile::encodeName(path);
    // A device or pipe could be read forever, and opening a pipe waits.
    const std::optional<FileStatus> status = statusOf(bytes);
    if (!status)
        return fail(qt_error_string(errno));
    if (!status->isRegular())
        return notAFile();
    if (status->size > maxImportFileSize)
        return tooLarge();
    const FileDescriptor fd(openPath(bytes, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        return fail(qt_error_string(errno));
    // It may have been replaced since it was looked at.
    const std::optional<FileStatus> opened = statusOf(fd.get());
    if (!opened || !opened->isRegular())
        return notAFile();
    try {
        // Read to the end, as the file may have grown since it was measured.
        QByteArray content;
        qsizetype size = 0;
        for (;;) {
            if (size > maxImportFileSize)
                return tooLarge();
            const qsizetype room =
                qMax<qsizetype>(1 << 20, qMin<qint64>(opened->size, maxImportFileSize) + 1 - size);
            content.resize(size + room);
            const ssize_t got = ::read(fd.get(), content.data() + size, size_t(room));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return fail(qt_error_string(errno));
            if (got == 0)
                break;
            size += got;
        }
        if (size > maxImportFileSize)
            return tooLarge();
        content.truncate(size);
        *data = std::move(content);
        return true;
    } catch (const std::exception &e) {
        return fail(QString::fromLocal8Bit(e.what()));
    }
}

} // namespace

QList<QByteArray> parseImportFile(const QString &path, QString *error, qsizetype *tooLong)
{
    if (tooLong)
        *tooLong = 0;
    QByteArray data;
    if (!readImportFile(path, &data, error))
        return {};
    return parseImportList(data, {}, tooLong);
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
