#include "appinfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace tallivo {

QString appTitle()
{
    return QStringLiteral(TALLIVO_DISPLAY_NAME);
}

QSettings userSettings()
{
    return QSettings(QStringLiteral("Kelmarin"), QStringLiteral("Tallivo"));
}

QString appDataPath()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return {};
    return QDir::cleanPath(base + QStringLiteral("/Kelmarin/Tallivo2"));
}

bool makeAppDataFolder(const QString &name, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const QString appPath = appDataPath();
    const QString path = name.isEmpty()      ? appPath
                         : appPath.isEmpty() ? name
                                             : appPath + QLatin1Char('/') + name;
    if (path.isEmpty())
        return fail(
            QCoreApplication::translate("AppInfo", "No folder can be created at an empty path."));
    const QFileInfo info(path);
    if (info.isDir())
        return true;
    if (info.exists() || info.isSymLink())
        return fail(
            QCoreApplication::translate("AppInfo", "\"%1\" exists and is not a folder.").arg(path));
    if (!QDir().mkpath(path))
        return fail(
            QCoreApplication::translate("AppInfo", "The folder \"%1\" could not be created.")
                .arg(path));
    return true;
}

} // namespace tallivo
