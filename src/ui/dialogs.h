#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace tallivo {

// A file dialog as the window asks for it.
struct FileDialogRequest
{
    enum Mode
    {
        OpenFiles,
        OpenFolders,
        SaveFile
    };
    Mode mode = OpenFiles;
    QString caption;
    bool multiple = true;
    QStringList nameFilters;
    QString directory;
    QString selectedFile;  // save dialogs
    QString defaultSuffix; // save dialogs
    QString note;          // why the dialog appears, shown in it
    bool canCreateFolders = true;
};

// A message box with one or two buttons.
struct MessageRequest
{
    QMessageBox::Icon icon = QMessageBox::Critical;
    QString title;
    QString text;
    QString informativeText;
    QString acceptText; // "OK" when empty
    QString rejectText; // no second button when empty
};

// The window's modal questions, window-modal and answered later. Tests
// answer them at once.
class Dialogs
{
public:
    // The chosen paths, in the dialog's order; called only when some were
    // chosen.
    using Chosen = std::function<void(const QStringList &paths)>;
    using Answered = std::function<void(bool accepted)>;

    virtual ~Dialogs() = default;
    virtual void chooseFiles(QWidget *parent, const FileDialogRequest &request, Chosen chosen) = 0;
    virtual void showMessage(QWidget *parent, const MessageRequest &request,
                             Answered answered = {}) = 0;
};

// The real dialogs: QFileDialog and QMessageBox.
class WidgetDialogs final : public Dialogs
{
public:
    void chooseFiles(QWidget *parent, const FileDialogRequest &request, Chosen chosen) override;
    void showMessage(QWidget *parent, const MessageRequest &request,
                     Answered answered = {}) override;
};

} // namespace tallivo
