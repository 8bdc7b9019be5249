#include "dialogs.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace tallivo {

void WidgetDialogs::runPanel(QWidget *parent, const PanelRequest &request, PanelDone done)
{
    auto *dialog = new QFileDialog(parent, request.title, request.directory);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    switch (request.kind) {
    case PanelRequest::OpenFiles:
        dialog->setFileMode(request.multiple ? QFileDialog::ExistingFiles
                                             : QFileDialog::ExistingFile);
        break;
    case PanelRequest::OpenFolders:
        // Only the widget-based dialog can return several folders at once.
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
        if (request.multiple) {
            dialog->setOption(QFileDialog::DontUseNativeDialog);
            for (auto *view : dialog->findChildren<QAbstractItemView *>())
                view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        }
        break;
    case PanelRequest::SaveFile:
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->setDefaultSuffix(request.defaultSuffix);
        dialog->selectFile(request.suggestedName);
        break;
    }
    if (!request.nameFilters.isEmpty())
        dialog->setNameFilters(request.nameFilters);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, done](int result) {
        const bool ok = result == QDialog::Accepted;
        done(ok ? 1 : 0, ok ? dialog->selectedFiles() : QStringList());
    });
    dialog->open();
}

void WidgetDialogs::runAlert(QWidget *parent, const AlertRequest &request, AlertDone done)
{
    auto *box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    switch (request.style) {
    case AlertRequest::Information:
        box->setIcon(QMessageBox::Information);
        break;
    case AlertRequest::Warning:
        box->setIcon(QMessageBox::Warning);
        break;
    case AlertRequest::Critical:
        box->setIcon(QMessageBox::Critical);
        break;
    }
    box->setText(request.text);
    box->setInformativeText(request.informativeText);
    QPushButton *yes = box->addButton(request.defaultButton, QMessageBox::AcceptRole);
    if (!request.alternateButton.isEmpty()) {
        QPushButton *no = box->addButton(request.alternateButton, QMessageBox::RejectRole);
        box->setEscapeButton(no);
    }
    box->setDefaultButton(yes);
    QObject::connect(box, &QMessageBox::finished, box,
                     [box, yes, done](int) { done(box->clickedButton() == yes ? 1 : 0); });
    box->open();
}

} // namespace tallivo
