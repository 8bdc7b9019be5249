#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QUrl>

namespace tallivo {

// Local paths as the kernel takes them: bytes, of any length. Everything
// that takes a path apart or puts one together goes through here; QUrl is
// only for the edges (drops, D-Bus, the desktop, stored lists).

// "//", "/./" and a trailing "/" say nothing more than "/"; they go. ".."
// stays: a symbolic link before it may lead elsewhere than its text does.
// A relative path stays relative.
QByteArray tidyPath(QByteArrayView path);
// `path` made absolute against `folder` (an absolute path), then tidied.
QByteArray absolutePath(QByteArrayView path, QByteArrayView folder);
// The current folder, as bytes; "/" when it cannot be read.
QByteArray currentFolder();

// The last component of a path, and what comes before it ("/" for a file
// at the root); a trailing "/" is ignored.
QByteArray fileNameOf(const QByteArray &path);
QByteArray folderOf(const QByteArray &path);
// path + "/" + name, without doubling a trailing "/".
QByteArray childPath(const QByteArray &folder, const QByteArray &name);
// The extension of the last component, as written, without the dot; empty
// when it has none. A name's leading dot hides it, it starts no extension.
QByteArray extensionOf(QByteArrayView path);
// The same, as a view into the path.
QByteArrayView extensionIn(QByteArrayView path);

// Whether the last component names a file Tallivo counts: an extension of
// tif, tiff or pdf in any mix of letter case. The one test for walks,
// picks, drops, imports and tallivo-count.
bool isCountableName(QByteArrayView path);
// Whether the extension says PDF, in any letter case.
bool hasPdfExtension(QByteArrayView path);

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
