#pragma once

#include <QSettings>
#include <QString>

namespace tallivo {

// The maker's web site: the help bar's page and the base of the review and
// report addresses.
inline constexpr char MakerWebsite[] = "http://www.kelmarin.com/";

// The name the application shows for itself.
QString appTitle();

// The per-user settings ("INCLUDESUBFOLDERS", "RECENTITEMS", ...).
QSettings userSettings();

// The per-user data folder of the application (".../Kelmarin/Tallivo2"), not
// created; "" when the platform gives no data location.
QString appDataPath();

// Makes sure appDataPath()/name exists as a folder, creating missing parents.
// An empty name means the data folder itself.
bool makeAppDataFolder(const QString &name, QString *error = nullptr);

} // namespace tallivo
