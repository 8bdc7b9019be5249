#pragma once

#include <QString>

namespace tallivo {

// The maker's web site: the help segment's page and the base of the
// review and report addresses.
inline constexpr char MakerHomeURL[] = "http://www.kelmarin.com/";

// The per-user data folder of the application (".../Kelmarin/Tallivo2"), not
// created; "" when the platform gives no data location.
QString getAppPath();

// Makes sure getAppPath()/name exists as a folder, creating missing parents.
// An empty name means the application folder itself.
bool createApplicationUsersFolder(const QString &name, QString *error = nullptr);

// The display name, directly followed by the suffix.
QString getAppTitle(const QString &suffix = QString());

} // namespace tallivo
