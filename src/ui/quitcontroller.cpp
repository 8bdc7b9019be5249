#include "quitcontroller.h"

#include "appinfo.h"
#include "dialogs.h"
#include "lastlistkeeper.h"
#include "recentfolderscombo.h"
#include "runpresenter.h"
#include "uilogging.h"

#include <QCoreApplication>
#include <QSettings>
#include <QWidget>

namespace tallivo {

QuitController::QuitController(RunPresenter &presenter, LastListKeeper &lastList,
                               RecentFoldersCombo &recentFolders, Dialogs &dialogs, QWidget *window)
    : QObject(window)
    , m_presenter(presenter)
    , m_lastList(lastList)
    , m_recentFolders(recentFolders)
    , m_dialogs(dialogs)
    , m_window(window)
{
}

void QuitController::requestQuit()
{
    if (!m_presenter.isBusy() || m_quitting)
        return quit();
    MessageRequest ask;
    ask.icon = QMessageBox::Question;
    ask.title = appTitle();
    ask.text = tr("Files are still being counted. Quit anyway?");
    ask.informativeText = tr("The files counted so far are kept for the next start; the "
                             "others are not counted.");
    ask.acceptText = tr("&Quit");
    ask.rejectText = tr("Cancel");
    m_asking = true;
    m_dialogs.showMessage(m_window, ask, [this](bool accepted) {
        m_asking = false;
        if (accepted)
            quit();
    });
}

bool QuitController::allowClose()
{
    if (m_quitting || !m_presenter.isBusy())
        return true;
    requestQuit();
    return false;
}

void QuitController::quit()
{
    m_quitting = true;
    m_lastList.setQuitting();
    QCoreApplication::quit();
}

void QuitController::prepareToQuit()
{
    // Nothing is left to look at: the window goes at once, however long
    // keeping the list takes. (No events are processed here: an answer or
    // a run's step arriving now must not change the list being kept.)
    m_window->hide();
    QSettings settings = userSettings();
    if (!m_recentFolders.save(settings))
        qCWarning(lcUi) << "The recent folders were not stored:" << settings.status();
    m_presenter.run().shutdown();
    m_lastList.save();
}

} // namespace tallivo
