#pragma once

#include "walk.h"

#include <QStringList>

namespace tallivo {

// What a run is given, and which of the given paths are folders to remember.
struct RunRequest
{
    Arguments arguments;
    QStringList folders;
};

// The choice of an open panel: the chosen paths, whether the panel offered
// folders, and the include-subfolders setting.
RunRequest requestFromPanel(const QStringList &paths, bool panelChoosesFolders,
                            bool includeSubfolders);
// Files and folders dropped on the table: always a folder walk, so plain files
// are held to the allowed types.
RunRequest requestFromDrop(const QList<QUrl> &urls, bool includeSubfolders);

} // namespace tallivo
