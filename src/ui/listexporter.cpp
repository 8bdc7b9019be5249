#include "listexporter.h"

#include "dialogs.h"
#include "exporter.h"
#include "exportname.h"
#include "filetablemodel.h"
#include "runpresenter.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>

#include <memory>

namespace tallivo {

ListExporter::ListExporter(const FileTableModel &model, RunPresenter &presenter, Dialogs &dialogs,
                           QLabel &progress, QWidget *window)
    : QObject(window)
    , m_model(model)
    , m_presenter(presenter)
    , m_dialogs(dialogs)
    , m_progress(progress)
    , m_window(window)
{
}

void ListExporter::exportList(bool checkedOnly)
{
    FileDialogRequest request;
    request.mode = FileDialogRequest::SaveFile;
    request.caption = tr("Export List To Tab Delimited Text File :");
    request.nameFilters = {tr("Text files (*.txt)")};
    request.defaultSuffix = QStringLiteral("txt");
    request.selectedFile = suggestedExportName(QDateTime::currentDateTime(), QLocale());
    m_dialogs.chooseFiles(m_window, request, [this, checkedOnly](const QStringList &paths) {
        const QString path = paths.first();
        // The rows are copied here, from the list as it is now; they are
        // formatted and written on the I/O pool a block at a time, as the
        // destination may be on a share.
        ExportCallbacks callbacks;
        auto rowsWritten = std::make_shared<qint64>(0);
        callbacks.progress = [this, rowsWritten](qint64 written, qint64 total) {
            *rowsWritten = written;
            m_progress.setText(tr("Exporting: %1 of %2 files")
                                   .arg(QLocale().toString(written), QLocale().toString(total)));
        };
        callbacks.done = [this, path, rowsWritten](const QString &error) {
            m_progress.clear();
            if (error.isEmpty()) {
                const qint64 files = *rowsWritten;
                m_presenter.showMessage(
                    tr("Exported %1 to \u201c%2\u201d.")
                        .arg(files == 1 ? tr("1 file")
                                        : tr("%1 files").arg(QLocale().toString(files)),
                             QFileInfo(path).fileName()));
                Q_EMIT exported(path);
                return;
            }
            // A list that was not written must not pass for exported.
            MessageRequest alert;
            alert.icon = QMessageBox::Critical;
            alert.text = tr("The list was not exported.");
            alert.informativeText = tr("\"%1\" could not be written: %2").arg(path, error);
            m_dialogs.showMessage(m_window, alert);
        };
        exportInBackground(this, m_model.files(), QFile::encodeName(path), std::move(callbacks),
                           &m_model, kExportRowsPerBlock,
                           checkedOnly ? ExportRows::Checked : ExportRows::All);
    });
}

} // namespace tallivo
