#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <memory>
#include <vector>

namespace tallivo {

class FileItem;

// The file list kept between sessions: every file's name and folder as
// bytes, its measurements, check box and page summary, so a restored list
// shows what was counted without opening a file again.
//
// The bytes: "TLVLIST\n", the version, the number of folders and of files
// (little-endian 32-bit numbers), then each folder's path once, then each
// file: its folder's number, name, size, times, pages, status, check box and
// summary rows; since version 3 the number of folders the user added and
// their paths, and the colour tolerance (mm^2, an IEEE 754 double) the
// colours were read under; and last the CRC-32 of every byte before it. Every byte
// string goes with its length before it. Version 2 lists are read with no
// added folders; earlier ones are refused: they carry no checksum.
namespace listsnapshot {

// Nothing longer is read back.
inline constexpr qint64 kMaxBytes = qint64(2) * 1024 * 1024 * 1024 - 1;
inline constexpr quint32 kMaxFiles = 10'000'000;
inline constexpr quint32 kMaxNameBytes = 64 * 1024;
inline constexpr quint32 kMaxFolderBytes = 1024 * 1024;
inline constexpr quint32 kMaxSummaryRows = 4096;
inline constexpr quint32 kMaxAddedFolders = 1'000'000;

// The bytes of a list, in its order. Files of one folder path share one
// folder entry, however many records of that folder the list holds.
// `colourMinArea` is the tolerance the colours were read under; 0: not one.
QByteArray encode(const std::vector<const FileItem *> &files,
                  const QList<QByteArray> &addedFolders = {}, double colourMinArea = 0);

// The list those bytes hold, whole, or nothing: on any fault (a short,
// damaged or oversized list, another format) returns false with the reason
// in `error` and leaves `files` empty. `colourMinArea` gets the tolerance
// the colours were read under, 0 when the list does not say.
bool decode(QByteArrayView bytes, std::vector<std::unique_ptr<FileItem>> *files,
            QString *error = nullptr, QList<QByteArray> *addedFolders = nullptr,
            double *colourMinArea = nullptr);

// Writes the checksum of `bytes` over its last four bytes, so that a list
// changed on purpose (by a test, a fuzzer) reaches the checks after it.
void reseal(QByteArray *bytes);

} // namespace listsnapshot
} // namespace tallivo
