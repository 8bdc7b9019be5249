#pragma once

#include "desktop.h"
#include "dialogs.h"
#include "pagesummarydialog.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <memory>
#include <vector>

class QMenu;

namespace Ui {
class MainWindow;
}

namespace tallivo {

class FileActions;
class FileItem;
class FileTableModel;
class DetailsReader;
class Intake;
class LastListKeeper;
class ListEditor;
class ListHistory;
class RunPresenter;

// Gives each entry of the menu without a mnemonic the first free letter,
// preferring the starts of words.
void addMnemonics(QMenu *menu);

// The one window. It holds the file table and wires the parts that do the
// work: the intake starts runs, the run presenter shows them, the list
// editor and the file actions act on the selection.
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
    // The Page Summary window, once it has been opened.
    PageSummaryDialog *pageSummary() const { return m_pageSummary; }

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

    // Where the list is kept between sessions: ".../LastList.bin" in the
    // data folder; empty when the platform gives no data folder.
    static QByteArray defaultLastListPath();
    void setLastListPath(const QByteArray &path);
    // How long quitting waits for the kept list's folder while it makes no
    // progress; after that the program ends and the old file stays.
    void setQuitPatience(std::chrono::milliseconds patience);
    // Writes the list there, whole or not at all; an empty list removes the
    // file. A kept list not yet offered, or still being offered, is left as
    // it is. False, with the reason logged, when the list could not be kept.
    bool saveLastList();
    // Reads the kept list off the main thread and, when it holds files,
    // offers to put them back as they were, without opening them again. One
    // that cannot be read is moved aside, and the window says so.
    void offerLastList();

Q_SIGNALS:
    void rateRequested();
    // A kept list was read and the question about it answered.
    void lastListOffered(bool restored);
    // The start's questions about the kept list are over, whatever the
    // answer; other questions wait for this.
    void lastListSettled();
    // The list was written to `path`.
    void exported(const QString &path);

protected:
    // Closing the window quits: it asks first while a run is counting.
    void closeEvent(QCloseEvent *event) override;
    // Esc cancels a run wherever the focus is, also where a menu bar or
    // another control would keep it for itself.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setupWindow();
    void setupCommandBars();
    void setupContextMenu();
    void setupSortMenu();
    // As a click on the column's header would, in this order.
    void sortBy(int column, Qt::SortOrder order);
    void connectActions();
    void openWebsite();
    // The whole list, or only its checked files.
    void exportList(bool checkedOnly);
    void showAbout();
    void showPageSummary();
    void showPrices();
    void updatePageSummary();
    // Page details are read only while something shows them.
    void updatePageDetails();
    void showUncounted();
    // Ctrl+Q over a question the window asks still quits.
    bool quitFromDialog(QObject *watched, QEvent *event);

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
    QPointer<PageSummaryDialog> m_pageSummary;
    DetailsReader *m_detailsReader = nullptr;
    QTimer m_summaryUpdate;
    bool m_escapeTaken = false; // the key's override already cancelled
    bool m_quitting = false;    // the user chose to quit
    bool m_askingQuit = false;  // the question whether to quit is open
};

} // namespace tallivo
