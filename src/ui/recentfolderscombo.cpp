#include "recentfolderscombo.h"

#include <QSettings>

namespace tallivo {

RecentFoldersCombo::RecentFoldersCombo(QWidget *parent)
    : QComboBox(parent)
{
    refill();
    connect(this, &QComboBox::activated, this, [this](int index) {
        // Entry 0 is the caption, not a folder. A copy: the list may be
        // re-sorted before the receivers are done with it.
        if (index < 1 || index > m_folders.folders().size())
            return;
        const QString folder = m_folders.folders().at(index - 1).path;
        Q_EMIT folderChosen(folder);
    });
}

void RecentFoldersCombo::load(const QSettings &settings)
{
    m_folders.load(settings);
    refill();
}

bool RecentFoldersCombo::save(QSettings &settings) const
{
    return m_folders.save(settings);
}

void RecentFoldersCombo::add(const QStringList &folders)
{
    m_folders.add(folders);
    refill();
}

void RecentFoldersCombo::touch(const QString &folder)
{
    if (m_folders.touch(folder))
        refill();
}

void RecentFoldersCombo::showFolder(const QString &folder)
{
    const int index = m_folders.indexOf(folder);
    if (index >= 0)
        setCurrentIndex(index + 1);
}

void RecentFoldersCombo::refill()
{
    const QSignalBlocker quiet(this);
    clear();
    addItem(tr("Recent Folders..."));
    for (const RecentFolder &folder : m_folders.folders()) {
        addItem(RecentFolders::displayText(folder.path), folder.path);
        setItemData(count() - 1, RecentFolders::displayText(folder.path), Qt::ToolTipRole);
    }
    setCurrentIndex(0);
}

} // namespace tallivo
