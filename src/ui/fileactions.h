#pragma once

#include <QList>

class QUrl;

namespace tallivo {

class Desktop;
class FileItem;

// Hands listed files to the desktop: open, show in the file manager, show
// their properties. Nothing in the list changes.
class FileActions
{
public:
    explicit FileActions(Desktop &desktop);

    void openFiles(const QList<const FileItem *> &items);
    void openEnclodingFolder(const QList<const FileItem *> &items);
    void getInfo(const QList<const FileItem *> &items);
    // Opens the file, or shows it in its folder when it cannot be opened.
    void fileDoubleClicked(const FileItem *item);

private:
    // Asks the file manager; when none answers, opens the containing folders.
    void callFileManager(const char *method, const QList<const FileItem *> &items);

    Desktop &m_desktop;
};

} // namespace tallivo
