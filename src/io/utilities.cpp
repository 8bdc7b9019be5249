#include "utilities.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace tallivo {

QString getAppPath()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return {};
    return QDir::cleanPath(base + QStringLiteral("/Kelmarin/Tallivo2"));
}

bool createApplicationUsersFolder(const QString &name, QString *error)
{
    const QString appPath = getAppPath();
    QString path = name.isEmpty()      ? appPath
                   : appPath.isEmpty() ? name
                                       : appPath + QLatin1Char('/') + name;
    if (path.isEmpty()) {
        if (error)
            *error = QStringLiteral("No folder can be created at an empty path.");
        return false;
    }
    const QFileInfo info(path);
    if (info.isDir())
        return true;
    if (info.exists() || info.isSymLink()) {
        if (error)
            *error = QStringLiteral("\"%1\" exists and is not a folder.").arg(path);
        return false;
    }
    if (!QDir().mkpath(path)) {
        if (error)
            *error = QStringLiteral("The folder \"%1\" could not be created.").arg(path);
        return false;
    }
    return true;
}

QString getAppTitle(const QString &suffix)
{
    return QStringLiteral(TALLIVO_DISPLAY_NAME) + suffix;
}

} // namespace tallivo
