#pragma once

#include "desktop.h"
#include "dialogs.h"

#include <QList>
#include <QMainWindow>
#include <QUrl>

#include <memory>

namespace Ui {
class MainWindow;
}

namespace tallivo {

class BillingReporter;
class FileActions;
class FileTableModel;
class Intake;
class LastListKeeper;
class ListEditor;
class ListExporter;
class ListHistory;
class PageSummaryDialog;
class PageSummaryPresenter;
class QuitController;
class RunPresenter;

// The one window. It holds the file table and wires the parts that do the
// work: the intake starts runs, the run presenter shows them, the list
// editor and the file actions act on the selection, the last list keeper
// keeps the list between sessions and the quit controller ends the session.
class MainWindow final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)
public:
    // Null seams mean the real dialogs and desktop.
    explicit MainWindow(std::unique_ptr<Dialogs> dialogs = {},
                        std::unique_ptr<Desktop> desktop = {}, QWidget *parent = nullptr);
    ~MainWindow() override;

    FileTableModel &model() const { return *m_model; }
    RunPresenter &presenter() const { return *m_presenter; }
    Intake &intake() const { return *m_intake; }
    ListHistory &history() const { return *m_history; }
    LastListKeeper &lastList() const { return *m_lastList; }
    ListExporter &exporter() const { return *m_exporter; }
    BillingReporter &billing() const { return *m_billing; }
    // The Page Summary window, once it has been opened.
    PageSummaryDialog *pageSummary() const;

    // The start: offers the kept list, then counts the files and folders
    // given on the command line, after the restored ones.
    void start(const QList<QUrl> &urls);
    // Files and folders given on a command line or handed over by a second
    // launch, counted as a drop; while the kept list is being offered they
    // wait, and join it when it is restored.
    void openLaunched(const QList<QUrl> &urls);

    void bringToFront();
    // Stores the recent folders and ends any run without waiting for the
    // files still to be counted; the list stays as it is, and is kept for
    // the next start when a place for it was set.
    void prepareToQuit();
    // Quits, after asking whether to while a run is counting.
    void requestQuit();

Q_SIGNALS:
    void rateRequested();

protected:
    // Closing the window quits: it asks first while a run is counting.
    void closeEvent(QCloseEvent *event) override;

private:
    void setupWindow();
    void setupCommandBars();
    void setupContextMenu();
    void setupViewMenu();
    void connectActions();
    void showPrices();
    void showUncounted();
    void showAbout();

    std::unique_ptr<Ui::MainWindow> m_ui;
    std::unique_ptr<Dialogs> m_dialogs;
    std::unique_ptr<Desktop> m_desktop;
    FileTableModel *m_model = nullptr;
    RunPresenter *m_presenter = nullptr;
    Intake *m_intake = nullptr;
    ListEditor *m_editor = nullptr;
    ListHistory *m_history = nullptr;
    FileActions *m_fileActions = nullptr;
    LastListKeeper *m_lastList = nullptr;
    ListExporter *m_exporter = nullptr;
    BillingReporter *m_billing = nullptr;
    PageSummaryPresenter *m_summary = nullptr;
    QuitController *m_quit = nullptr;
};

} // namespace tallivo
