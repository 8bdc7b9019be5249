#pragma once

#include "recentfolders.h"

#include <QComboBox>

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

Q_SIGNALS:
    void folderChosen(const QString &folder);

private:
    void refill();

    RecentFolders m_folders;
};

} // namespace tallivo
