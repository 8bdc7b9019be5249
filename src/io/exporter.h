#pragma once

#include "fileitem.h"
#include "savefile.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QAbstractItemModel;
class QObject;

namespace tallivo {

class FileList;

// The tab-delimited list: a header, then one line per file in list order.
// Dates in one fixed form and zone whatever the table shows, names and
// folders as the file system's bytes, made safe for a row.
QByteArray exportHeader();
void appendExportRow(QByteArray &out, const FileRecord &file);

// Writes the list a block of rows at a time, atomically: the destination is
// either wholly replaced or left as it was. Rows are formatted as they are
// added, so the whole text is never held at once. Any thread; one at a time.
class ExportWriter
{
public:
    explicit ExportWriter(QByteArray path);
    ExportWriter(const ExportWriter &) = delete;
    ExportWriter &operator=(const ExportWriter &) = delete;
    ~ExportWriter();

    // Opens the new file and writes the header; false when that failed.
    bool open();
    void add(const FileRecord &file);
    // Whether a write has failed; the rest is then not formatted.
    bool failed() const { return !m_ok; }
    // Puts everything on disk and over the destination. On failure returns
    // false, says why, and leaves the destination untouched.
    bool commit(QString *error = nullptr);

private:
    void flush();

    QByteArray m_path;
    std::unique_ptr<SaveFile> m_file;
    QByteArray m_buffer;
    bool m_ok = false;
};

// The window's export. The rows are copied from the list on the calling
// thread as plain records, a block per turn of its event loop; an edit
// `model` announces among the rows already copied starts the copy again, so
// the rows written are the list as it was at one moment. They are then
// formatted and written on the I/O pool, block by block; `progress` is called
// a few times a second meanwhile and once more at the end, then `done`, with an empty error
// on success, on the thread of `context`. Once the rows are copied the
// writing goes on whatever happens to `context`, but nothing more is called
// once it has gone. `files` must last as long as `context`.
struct ExportCallbacks
{
    std::function<void(qint64 written, qint64 total)> progress;
    std::function<void(const QString &error)> done;
};
// Rows copied per turn of the event loop.
inline constexpr int kExportRowsPerBlock = 20000;
// Which rows go out: all, or only those whose check box is on.
enum class ExportRows
{
    All,
    Checked
};
void exportInBackground(QObject *context, const FileList &files, const QByteArray &path,
                        ExportCallbacks callbacks, const QAbstractItemModel *model = nullptr,
                        int rowsPerBlock = kExportRowsPerBlock, ExportRows which = ExportRows::All);

} // namespace tallivo
