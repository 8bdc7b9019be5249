#pragma once

#include <QDialog>
#include <QList>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

class QAbstractButton;

namespace Ui {
class ImportFiles;
}

namespace tallivo {

// The dialog's modal questions, answered by people in the application and by
// the tests in theirs. Both return at once and call back when answered.
class ImportFilesPrompts
{
public:
    virtual ~ImportFilesPrompts() = default;
    // A critical alert on parent; done runs once it has been dismissed.
    virtual void alert(QWidget *parent, const QString &heading, const QString &message,
                       std::function<void()> done) = 0;
    // Asks for one existing ".txt" file; chosen runs only when one was chosen.
    virtual void chooseTextFile(QWidget *parent, std::function<void(const QString &)> chosen) = 0;
};

// Takes a list of paths from a text file or from typed or pasted text, keeps
// those of an allowed type and hands them on. Files are read and lists parsed
// off the GUI thread, so a huge list leaves the window responsive.
class ImportFilesDialog : public QDialog
{
    Q_OBJECT
public:
    enum ImportMethod
    {
        FromFile = 0,
        FromText = 1
    };

    explicit ImportFilesDialog(const QStringList &allowedFileTypes, QWidget *parent = nullptr);
    ~ImportFilesDialog() override;

    // Replaces the alerts and the file panel; null restores the real ones.
    void setPrompts(std::unique_ptr<ImportFilesPrompts> prompts);

    ImportMethod importMethod() const { return m_method; }
    // The accepted files of the last parse.
    const QList<QUrl> &files() const { return m_files; }
    // True while a file is read or a list parsed.
    bool isBusy() const { return m_busy; }

    // Empties both inputs, the files and the count; keeps the method. Done
    // every time the dialog is shown.
    void resetView();

    // Marks a letter of the button's title as its keyboard mnemonic
    // (underlined, Alt+letter clicks it): occurrence 1 marks the first match
    // ignoring letter case, any other the last match of the same case.
    static void setButtonKeyCharacter(QAbstractButton *button, const QString &keyChar,
                                      int occurrance);

public slots:
    void importMethodChanged(int tag);
    void browseImportFileAction();
    void pasetFromClipboardAction();
    void importAction();
    void cancelAction();
    void reject() override;

signals:
    // The user imported a non-empty list; the dialog closes right after.
    void filesImported(const QList<QUrl> &urls);
    // A parse has finished and the count is shown.
    void parsed(int count);

protected:
    void showEvent(QShowEvent *event) override;

private:
    struct ParseResult
    {
        QStringList paths;
        QList<QUrl> urls;
    };
    using ParseJob = std::function<ParseResult()>;

    void applyMethod(int tag, bool discardInput);
    void setBusy(bool busy);
    void startParse(ParseJob job, std::function<void(const ParseResult &)> then);
    void showAlert(const QString &message, QWidget *focusAfter);
    QString importTextContent() const;

    std::unique_ptr<Ui::ImportFiles> m_ui;
    std::unique_ptr<ImportFilesPrompts> m_prompts;
    QStringList m_allowedTypes;
    QList<QUrl> m_files;
    ImportMethod m_method = FromFile;
    bool m_busy = false;
    // Bumped to drop the result of a parse still under way.
    quint64 m_generation = 0;
};

} // namespace tallivo
