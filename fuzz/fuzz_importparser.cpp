// Import lists: any bytes give absolute paths of the allowed types, each at
// most once, and nothing at all when the bytes are not UTF-8.

#include "importparser.h"

#include <QDebug>
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
    bool valid = false;
    const QStringList paths =
        parseImportList(bytes, allowed, &valid, QStringLiteral("/base/folder"));
    if (!valid && !paths.isEmpty())
        std::abort();
    QSet<QString> seen;
    for (const QString &path : paths) {
        const QString name = path.section(QLatin1Char('/'), -1);
        const bool allowedType =
            name.contains(QLatin1Char('.')) &&
            allowed.contains(name.section(QLatin1Char('.'), -1), Qt::CaseInsensitive);
        if (!path.startsWith(QLatin1Char('/')) || path.contains(QChar(0)) || !allowedType ||
            seen.contains(path)) {
            qWarning() << "bad path" << path;
            std::abort();
        }
        seen.insert(path);
    }
    if (paths.size() > bytes.count('\n') + 1)
        std::abort();
    return 0;
}
