#include "fileactions.h"

#include "desktop.h"
#include "fileitem.h"
#include "syslogline.h"

#include <QStringList>
#include <QUrl>

#include <exception>

namespace tallivo {

FileActions::FileActions(Desktop &desktop)
    : m_desktop(desktop)
{
}

void FileActions::openFiles(const QList<const FileItem *> &items)
{
    try {
        for (const FileItem *item : items)
            m_desktop.openUrl(item->filePath());
    } catch (const std::exception &e) {
        logError("(openFiles)", QString::fromLocal8Bit(e.what()));
    }
}

void FileActions::openEnclodingFolder(const QList<const FileItem *> &items)
{
    callFileManager("ShowItems", items);
}

void FileActions::getInfo(const QList<const FileItem *> &items)
{
    callFileManager("ShowItemProperties", items);
}

void FileActions::fileDoubleClicked(const FileItem *item)
{
    if (!item)
        return;
    try {
        if (!m_desktop.openUrl(item->filePath()))
            callFileManager("ShowItems", {item});
    } catch (const std::exception &e) {
        logError("fileDoubleClicked", QString::fromLocal8Bit(e.what()));
    }
}

void FileActions::callFileManager(const char *method, const QList<const FileItem *> &items)
{
    if (items.isEmpty())
        return;
    // Copied now: the items may be gone by the time the answer comes.
    QStringList uris;
    QList<QUrl> folders;
    for (const FileItem *item : items) {
        uris.append(item->filePath().toString(QUrl::FullyEncoded));
        const QUrl folder = QUrl::fromLocalFile(item->location());
        if (!item->location().isEmpty() && !folders.contains(folder))
            folders.append(folder);
    }
    Desktop &desktop = m_desktop;
    desktop.callFileManager(QLatin1String(method), uris, [&desktop, folders](bool answered) {
        if (answered)
            return;
        for (const QUrl &folder : folders)
            desktop.openUrl(folder);
    });
}

} // namespace tallivo
