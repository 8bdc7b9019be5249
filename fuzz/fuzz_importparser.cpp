// Import lists: any bytes give absolute paths of the allowed types, as the
// bytes of their lines, each at most once; never a path that Qt would take
// for one of its resources.

#include "importparser.h"
#include "walk.h"

#include <QSet>

#include <cstdint>
#include <cstdlib>

using namespace tallivo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 256 * 1024)
        return 0;
    static const QStringList allowed = QStringLiteral("tif,TIF,tiff,TIFF,pdf,PDF").split(u',');
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<QByteArray> paths = parseImportList(bytes, allowed, "/base/folder");
    QSet<QByteArray> seen;
    for (const QByteArray &path : paths) {
        const QByteArray type = pathExtension(path).toUpper();
        if (!path.startsWith('/') || path.contains('\0') || path.contains('\n') ||
            (type != "TIF" && type != "TIFF" && type != "PDF") || seen.contains(path))
            std::abort();
        // Every path is a line of the input, or one joined to the base.
        if (!bytes.contains(path) &&
            !(path.startsWith("/base/folder/") && bytes.contains(path.mid(13))))
            std::abort();
        seen.insert(path);
    }
    if (paths.size() > bytes.count('\n') + 1)
        std::abort();
    return 0;
}
