#pragma once

#include "desktop.h"
#include "dialogs.h"

#include <QMainWindow>

#include <memory>

namespace Ui {
class MainWindow;
}

namespace tallivo {

class FileActions;
class FileTableModel;
class Intake;
class ListEditor;
class RunPresenter;

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

    void bringToFront();
    // Stores the recent folders and ends any run without waiting for the
    // files still to be counted; the list stays as it is.
    void prepareToQuit();

Q_SIGNALS:
    void rateRequested();

private:
    void setupWindow();
    void setupCommandBars();
    void setupContextMenu();
    void connectActions();
    void openWebsite();
    void exportList();
    void showAbout();

    std::unique_ptr<Ui::MainWindow> m_ui;
    std::unique_ptr<Dialogs> m_dialogs;
    std::unique_ptr<Desktop> m_desktop;
    FileTableModel *m_model = nullptr;
    RunPresenter *m_presenter = nullptr;
    Intake *m_intake = nullptr;
    ListEditor *m_editor = nullptr;
    FileActions *m_fileActions = nullptr;
};

} // namespace tallivo
