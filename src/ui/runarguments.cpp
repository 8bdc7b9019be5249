#include "runarguments.h"

#include <QFileInfo>

namespace tallivo {

namespace {

QString withoutTrailingSlash(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace

RunRequest requestFromPanel(const QStringList &paths, bool panelChoosesFolders,
                            bool includeSubfolders)
{
    RunRequest request;
    request.arguments.isFolders = panelChoosesFolders;
    request.arguments.isIncludeSubdirectories = includeSubfolders;
    for (const QString &path : paths) {
        if (path.isEmpty())
            continue;
        request.arguments.urls.append(QUrl::fromLocalFile(path));
        if (QFileInfo(path).isDir())
            request.folders.append(withoutTrailingSlash(path));
    }
    return request;
}

RunRequest requestFromDrop(const QList<QUrl> &urls, bool includeSubfolders)
{
    RunRequest request;
    request.arguments.isFolders = true;
    request.arguments.isIncludeSubdirectories = includeSubfolders;
    for (const QUrl &url : urls) {
        // Only local files can be counted; other schemes are left out.
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        if (path.isEmpty())
            continue;
        request.arguments.urls.append(QUrl::fromLocalFile(path));
        if (QFileInfo(path).isDir())
            request.folders.append(withoutTrailingSlash(path));
    }
    return request;
}

} // namespace tallivo
