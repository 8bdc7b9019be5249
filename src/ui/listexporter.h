#pragma once

#include <QObject>

class QLabel;
class QWidget;

namespace tallivo {

class Dialogs;
class FileTableModel;
class RunPresenter;

// The File menu's exports: the whole list, or only its checked files, to a
// tab-delimited text file the user names. The progress shows on a label,
// the outcome in the status line or, when the file was not written, in a
// message.
class ListExporter final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ListExporter)
public:
    // Questions are asked over `window`.
    ListExporter(const FileTableModel &model, RunPresenter &presenter, Dialogs &dialogs,
                 QLabel &progress, QWidget *window);

    void exportAll() { exportList(false); }
    void exportChecked() { exportList(true); }

Q_SIGNALS:
    // The list was written to `path`.
    void exported(const QString &path);

private:
    void exportList(bool checkedOnly);

    const FileTableModel &m_model;
    RunPresenter &m_presenter;
    Dialogs &m_dialogs;
    QLabel &m_progress;
    QWidget *m_window;
};

} // namespace tallivo
