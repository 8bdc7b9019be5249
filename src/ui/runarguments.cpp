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

// Every chosen or dropped path is counted; folders are also remembered.
void addPath(RunRequest &request, const QString &path)
{
    if (path.isEmpty())
        return;
    request.arguments.urls.append(QUrl::fromLocalFile(path));
    if (QFileInfo(path).isDir())
        request.folders.append(withoutTrailingSlash(path));
}

} // namespace

RunRequest requestFromPanel(const QStringList &paths, bool panelChoosesFolders,
                            bool includeSubfolders)
{
    RunRequest request;
    request.arguments.isFolders = panelChoosesFolders;
    request.arguments.includeSubfolders = includeSubfolders;
    for (const QString &path : paths)
        addPath(request, path);
    return request;
}

RunRequest requestFromDrop(const QList<QUrl> &urls, bool includeSubfolders)
{
    RunRequest request;
    request.arguments.isFolders = true;
    request.arguments.includeSubfolders = includeSubfolders;
    for (const QUrl &url : urls) {
        // Only local files can be counted; other schemes are left out.
        if (url.isLocalFile())
            addPath(request, url.toLocalFile());
    }
    return request;
}

} // namespace tallivo
