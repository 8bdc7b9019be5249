#include "recentfolderscombo.h"

#include "iopool.h"

#include <QAbstractItemView>
#include <QMenu>
#include <QSettings>
#include <QStylePainter>

namespace tallivo {

RecentFoldersCombo::RecentFoldersCombo(QWidget *parent)
    : QComboBox(parent)
{
    view()->setTextElideMode(Qt::ElideMiddle);
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

void RecentFoldersCombo::clearFolders()
{
    m_folders.clear();
    refill();
}

void RecentFoldersCombo::removeMissing()
{
    if (m_checking)
        return;
    m_checking = true;
    QStringList paths;
    for (const RecentFolder &folder : m_folders.folders())
        paths.append(folder.path);
    // Off the window's thread, and off Qt's pool, whose end the program
    // would wait for: a folder on a dead share may never answer.
    runOnIoPool(
        this,
        [paths] {
            QStringList missing;
            for (const QString &path : paths) {
                if (!RecentFolders::isFolderReadable(path))
                    missing.append(path);
            }
            return missing;
        },
        [this](const QStringList &missing) {
            m_checking = false;
            const int count = m_folders.remove(missing);
            if (count > 0)
                refill();
            Q_EMIT missingRemoved(count);
        });
}

void RecentFoldersCombo::setMenu(QMenu *menu, const QList<QAction *> &commands)
{
    m_menu = menu;
    m_menuCommands = commands;
    connect(menu, &QMenu::aboutToShow, this, &RecentFoldersCombo::fillMenu);
    fillMenu();
    setContextMenuPolicy(Qt::ActionsContextMenu);
    addActions(commands);
    refill();
}

void RecentFoldersCombo::fillMenu()
{
    m_menu->clear();
    const QFontMetrics metrics = m_menu->fontMetrics();
    const int width = metrics.averageCharWidth() * 60;
    for (const RecentFolder &folder : m_folders.folders()) {
        // "&" would make a mnemonic of the next letter.
        QString title = metrics.elidedText(folder.path, Qt::ElideMiddle, width);
        title.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction *entry = m_menu->addAction(title);
        entry->setToolTip(folder.path);
        const QString path = folder.path;
        connect(entry, &QAction::triggered, this, [this, path] { Q_EMIT folderChosen(path); });
    }
    if (m_folders.isEmpty())
        m_menu->addAction(tr("No Recent Folders"))->setEnabled(false);
    m_menu->addSeparator();
    m_menu->addActions(m_menuCommands);
}

void RecentFoldersCombo::showPopup()
{
    QComboBox::showPopup();
    QWidget *popup = view()->window();
    const int limit = qMax(width(), window()->width() / 2);
    if (popup->width() <= limit)
        return;
    QRect area = popup->geometry();
    area.setWidth(limit);
    // Within the window where it fits: the pop-up sits at the window's edge.
    const int right = window()->mapToGlobal(QPoint(window()->width(), 0)).x();
    if (area.right() > right)
        area.moveRight(qMax(right, mapToGlobal(QPoint(width(), 0)).x()));
    popup->setGeometry(area);
}

void RecentFoldersCombo::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    option.currentText =
        option.fontMetrics.elidedText(option.currentText, Qt::ElideMiddle, field.width());
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
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
    for (QAction *command : std::as_const(m_menuCommands))
        command->setEnabled(!m_folders.isEmpty());
}

} // namespace tallivo
