#pragma once

#include <QObject>

class QWidget;

namespace tallivo {

class Dialogs;
class LastListKeeper;
class RecentFoldersCombo;
class RunPresenter;

// How the program ends. Quitting, or closing the window, asks first while a
// run is counting; on the way out the recent folders and the list are kept
// and the run ends without waiting for the files still to be counted.
class QuitController final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QuitController)
public:
    // The question is asked over `window`, which is hidden on the way out.
    QuitController(RunPresenter &presenter, LastListKeeper &lastList,
                   RecentFoldersCombo &recentFolders, Dialogs &dialogs, QWidget *window);

    // Quits, after asking whether to while a run is counting.
    void requestQuit();
    // Whether the window may close now; if not, the question is asked.
    bool allowClose();
    // The question whether to quit is open.
    bool isAsking() const { return m_asking; }
    // Stores the recent folders and ends any run; the list stays as it is,
    // and is kept for the next start when a place for it was set.
    void prepareToQuit();

private:
    void quit();

    RunPresenter &m_presenter;
    LastListKeeper &m_lastList;
    RecentFoldersCombo &m_recentFolders;
    Dialogs &m_dialogs;
    QWidget *m_window;
    bool m_quitting = false; // the user chose to quit
    bool m_asking = false;
};

} // namespace tallivo
