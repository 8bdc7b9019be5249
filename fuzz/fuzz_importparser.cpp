// Import lists, and the export and page listing read back: any bytes give
// absolute paths of the allowed types, as the bytes of their lines (or of
// their fields, unescaped), each at most once; never a path that Qt would
// take for one of its resources.

#include "importparser.h"
#include "localpath.h"

#include <QSet>

#include <cstdint>
#include <cstdlib>

using namespace tallivo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 256 * 1024)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<QByteArray> paths = parseImportList(bytes, "/base/folder");
    QSet<QByteArray> seen;
    for (const QByteArray &path : paths) {
        const QByteArray type = extensionOf(path).toUpper();
        // A line feed comes only from an escaped field of a table.
        if (!path.startsWith('/') || path.contains('\0') ||
            (path.contains('\n') && !bytes.contains("\\n")) ||
            (type != "TIF" && type != "TIFF" && type != "PDF") || seen.contains(path))
            std::abort();
        // Every path is tidy, and names a file the input names: as it is, or
        // escaped as a field, alone or within a path escaped as a whole
        // (its backslashes doubled).
        const QByteArray name = fileNameOf(path);
        QByteArray doubled = name;
        doubled.replace("\\", "\\\\");
        if (tidyPath(path) != path ||
            !(bytes.contains(name) || bytes.contains(escapedForRow(name)) ||
              bytes.contains(doubled)))
            std::abort();
        seen.insert(path);
    }
    if (paths.size() > bytes.count('\n') + 1)
        std::abort();
    return 0;
}
