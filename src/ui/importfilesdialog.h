#pragma once

#include <QDialog>
#include <QList>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

namespace Ui {
class ImportFilesDialog;
}

namespace tallivo {

class Dialogs;

// Takes a list of paths from a text file or from typed or pasted text, keeps
// those with a countable name and hands them on. Files are read and lists parsed
// off the GUI thread, so a huge list leaves the window responsive.
class ImportFilesDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ImportFilesDialog)
public:
    enum class Source
    {
        File,
        Text
    };

    // The file dialog and the alerts are asked of dialogs.
    explicit ImportFilesDialog(Dialogs &dialogs, QWidget *parent = nullptr);
    ~ImportFilesDialog() override;

    Source source() const { return m_source; }
    void setSource(Source source);
    // The accepted files of the last parse.
    const QList<QUrl> &files() const { return m_files; }
    // True while a file is read or a list parsed.
    bool isBusy() const { return m_busy; }

    // Empties both inputs, the files and the count; keeps the source. Done
    // every time the dialog is shown.
    void reset();

    void browse();
    void pasteFromClipboard();
    // Parses the input; a non-empty list is handed on and closes the dialog.
    void importFiles();
    void reject() override;

Q_SIGNALS:
    void filesImported(const QList<QUrl> &urls);
    // A parse has finished and the count is shown.
    void parsed(int count);

protected:
    void showEvent(QShowEvent *event) override;

private:
    struct Parsed
    {
        QList<QByteArray> paths;
        QList<QUrl> urls;
        qsizetype tooLong = 0; // lines left out, too long to be paths
    };

    void updateControls(bool discardInput);
    void setBusy(bool busy);
    // Runs parse off the GUI thread, then shows the count and calls then.
    void startParse(std::function<QList<QByteArray>(qsizetype *tooLong)> parse,
                    std::function<void(const Parsed &)> then);
    static QString foundText(qint64 files, qint64 tooLong);
    void showAlert(const QString &message, QWidget *focusAfter);
    // Shows how many files the chosen list holds once it has been read.
    void countChosenFile(const QString &path);
    QString pathsText() const;

    std::unique_ptr<Ui::ImportFilesDialog> m_ui;
    Dialogs &m_dialogs;
    QList<QUrl> m_files;
    Source m_source = Source::File;
    bool m_busy = false;
    // Bumped to drop the result of a parse still under way.
    quint64 m_generation = 0;
};

} // namespace tallivo
