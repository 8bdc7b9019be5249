#pragma once

#include <QtGlobal>

class QUrl;
class QString;

namespace tallivo {

// Number of pages of a file: the image directories of a TIFF file, else, for a
// name ending in ".pdf" (any case), the pages of a PDF document. 0 when neither
// reader gives a count. Only regular files are opened; nothing is decoded.
// Safe to call from any thread.
qint32 getTiffPageCount(const QUrl &url);

// The two readers on their own, for a local path.
qint32 countTiffDirectories(const QString &path);
qint32 countPdfPages(const QString &path);

} // namespace tallivo
