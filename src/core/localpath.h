#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace tallivo {

// A Linux file name is a string of bytes, not text. A file URL keeps the bytes
// that are not UTF-8 percent-encoded, so the URL stays the file's identity and
// these turn it back into the exact bytes to open.

// A "file" URL for a local path given as bytes. Equal to QUrl::fromLocalFile()
// for any path that is valid UTF-8.
QUrl urlFromLocalPath(const QByteArray &path);
// The local path of a file URL, as bytes; empty for anything else.
QByteArray localPath(const QUrl &url);
// A path or name as people read it: UTF-8 where the bytes are UTF-8, every
// other byte as its Latin-1 character (the usual encoding of such names).
QString displayPath(const QByteArray &path);

// A name or path made safe for one field of a tab-separated row. Bytes
// without control characters are kept exactly. In a field that has any,
// tab, line feed and carriage return are written \t, \n and \r, other
// control bytes \xHH, and a backslash \\, so every row stays one row.
// For a terminal, bytes that are not UTF-8 and the C1 controls are written
// \xHH as well, so no byte can act as an escape sequence.
enum class RowTarget
{
    File,
    Terminal
};
QByteArray escapedForRow(const QByteArray &bytes, RowTarget target = RowTarget::File);

} // namespace tallivo
