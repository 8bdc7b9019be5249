#pragma once

#include "recentfolders.h"

#include <QComboBox>

class QMenu;
class QSettings;

namespace tallivo {

// The recent-folders pop-up: a caption entry, then the remembered folders,
// newest first. Choosing a folder says so; what to do with it is the
// caller's.
class RecentFoldersCombo final : public QComboBox
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RecentFoldersCombo)
public:
    explicit RecentFoldersCombo(QWidget *parent = nullptr);

    const RecentFolders &folders() const { return m_folders; }
    void load(const QSettings &settings);
    bool save(QSettings &settings) const;

    // Remembers these folders (those not yet listed go on top) and shows the
    // caption again.
    void add(const QStringList &folders);
    // Moves a listed folder to the top.
    void touch(const QString &folder);
    // Shows this folder as the current entry.
    void showFolder(const QString &folder);
    // Shows the caption entry, no folder.
    void showCaption() { setCurrentIndex(0); }
    // Forgets every folder.
    void clearFolders();
    // Forgets the folders that no longer exist or cannot be read. The look
    // happens off the window's thread (a share may hang); missingRemoved()
    // tells when it is done.
    void removeMissing();

    // Fills `menu` with the folders whenever it opens, then these commands.
    void setMenu(QMenu *menu, const QList<QAction *> &commands);

    // The list opens no wider than half the window (or the pop-up itself),
    // and long paths in it are cut in the middle.
    void showPopup() override;

Q_SIGNALS:
    void folderChosen(const QString &folder);
    void missingRemoved(int count);

protected:
    // Long paths are cut in the middle: the folder's own name stays.
    void paintEvent(QPaintEvent *event) override;

private:
    void refill();
    void fillMenu();

    QMenu *m_menu = nullptr;
    QList<QAction *> m_menuCommands;
    bool m_checking = false;

    RecentFolders m_folders;
};

} // namespace tallivo
