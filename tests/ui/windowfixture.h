#pragma once

#include "buttonbar.h"
#include "collectionrun.h"
#include "fakes.h"
#include "filetablemodel.h"
#include "filetableview.h"
#include "mainwindow.h"
#include "recentfolderscombo.h"
#include "runpresenter.h"

#include <QAction>
#include <QLabel>
#include <QLocale>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <functional>
#include <memory>

namespace tallivo::test {

// A main window with fake dialogs and desktop that tests answer in advance,
// its settings in a temporary folder and English texts. A test class derives
// from it beside QObject.
class WindowFixture
{
protected:
    // For initTestCase().
    void setUpEnvironment()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
        m_data = std::make_unique<QTemporaryDir>();
    }
    // A fresh start: no settings, an empty data folder.
    void resetEnvironment()
    {
        m_window.reset();
        QSettings(QStringLiteral("Kelmarin"), QStringLiteral("Tallivo")).clear();
        m_data = std::make_unique<QTemporaryDir>();
    }
    // Replaces the window by a new one; null `dialogs` means plain fakes.
    MainWindow &makeWindow(std::unique_ptr<FakeDialogs> dialogs = {})
    {
        m_window.reset();
        if (!dialogs)
            dialogs = std::make_unique<FakeDialogs>();
        auto desktop = std::make_unique<FakeDesktop>();
        m_dialogs = dialogs.get();
        m_desktop = desktop.get();
        m_window = std::make_unique<MainWindow>(std::move(dialogs), std::move(desktop));
        return *m_window;
    }
    bool showActive() const
    {
        m_window->show();
        m_window->activateWindow();
        return QTest::qWaitForWindowActive(m_window.get());
    }
    // Runs the run that start() begins, at once or once a check off the
    // main thread has answered, to its end.
    bool run(const std::function<void()> &start) const
    {
        QSignalSpy finished(&collectionRun(), &CollectionRun::finished);
        start();
        return !finished.isEmpty() || finished.wait(60000);
    }

    template <typename T> T *child(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    QAction *action(const char *name) const { return child<QAction>(name); }
    void trigger(const char *name) const { action(name)->trigger(); }
    FileTableView *table() const { return child<FileTableView>("fileTable"); }
    QToolButton *segment(int index) const { return child<ButtonBar>("commandBar")->button(index); }
    QString label(const char *name) const { return child<QLabel>(name)->text(); }
    RecentFoldersCombo *popup() const { return child<RecentFoldersCombo>("recentFolders"); }
    CollectionRun &collectionRun() const { return m_window->presenter().run(); }
    const FileList &files() const { return m_window->model().files(); }

    QTemporaryDir m_settingsDir;
    std::unique_ptr<QTemporaryDir> m_data;
    FakeDialogs *m_dialogs = nullptr;
    FakeDesktop *m_desktop = nullptr;
    std::unique_ptr<MainWindow> m_window;
};

} // namespace tallivo::test
