#include "dialogs.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace tallivo {

void WidgetDialogs::chooseFiles(QWidget *parent, const FileDialogRequest &request, Chosen chosen)
{
    auto *dialog = new QFileDialog(parent, request.caption, request.directory);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    switch (request.mode) {
    case FileDialogRequest::OpenFiles:
        dialog->setFileMode(request.multiple ? QFileDialog::ExistingFiles
                                             : QFileDialog::ExistingFile);
        break;
    case FileDialogRequest::OpenFolders:
        // Only the widget-based dialog can return several folders at once.
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
        if (request.multiple) {
            dialog->setOption(QFileDialog::DontUseNativeDialog);
            for (auto *view : dialog->findChildren<QAbstractItemView *>())
                view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        }
        break;
    case FileDialogRequest::SaveFile:
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->setDefaultSuffix(request.defaultSuffix);
        dialog->selectFile(request.selectedFile);
        break;
    }
    if (!request.nameFilters.isEmpty())
        dialog->setNameFilters(request.nameFilters);
    // A read-only dialog offers no New Folder button.
    if (!request.canCreateFolders)
        dialog->setOption(QFileDialog::ReadOnly);
    if (!request.note.isEmpty()) {
        dialog->setOption(QFileDialog::DontUseNativeDialog);
        if (auto *grid = qobject_cast<QGridLayout *>(dialog->layout())) {
            auto *note = new QLabel(request.note, dialog);
            note->setObjectName(QStringLiteral("note"));
            note->setWordWrap(true);
            note->setTextFormat(Qt::PlainText);
            grid->addWidget(note, grid->rowCount(), 0, 1, grid->columnCount());
        }
    }
    QObject::connect(dialog, &QFileDialog::finished, dialog,
                     [dialog, chosen = std::move(chosen)](int result) {
                         const QStringList paths = dialog->selectedFiles();
                         if (result == QDialog::Accepted && !paths.isEmpty())
                             chosen(paths);
                     });
    dialog->open();
}

void WidgetDialogs::showMessage(QWidget *parent, const MessageRequest &request, Answered answered)
{
    auto *box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(request.icon);
    box->setWindowTitle(request.title);
    box->setText(request.text);
    box->setInformativeText(request.informativeText);
    QPushButton *accept =
        box->addButton(request.acceptText.isEmpty() ? QMessageBox::tr("OK") : request.acceptText,
                       QMessageBox::AcceptRole);
    if (!request.rejectText.isEmpty())
        box->setEscapeButton(box->addButton(request.rejectText, QMessageBox::RejectRole));
    box->setDefaultButton(accept);
    QObject::connect(box, &QMessageBox::finished, box,
                     [box, accept, answered = std::move(answered)](int) {
                         if (answered)
                             answered(box->clickedButton() == accept);
                     });
    box->open();
}

} // namespace tallivo
