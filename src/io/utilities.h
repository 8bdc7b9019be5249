#pragma once

// The names the usage counters still call; they go once those call the ones
// of appinfo.h.
#include "appinfo.h"

namespace tallivo {

inline constexpr const char *MakerHomeURL = MakerWebsite;

inline QString getAppPath()
{
    return appDataPath();
}

inline bool createApplicationUsersFolder(const QString &name, QString *error = nullptr)
{
    return makeAppDataFolder(name, error);
}

inline QString getAppTitle(const QString &suffix = QString())
{
    return appTitle() + suffix;
}

} // namespace tallivo
