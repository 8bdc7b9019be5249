#include "importfilesdialog.h"

#include "localpath.h"

#include "appinfo.h"
#include "dialogs.h"
#include "importparser.h"
#include "iopool.h"
#include "syslogline.h"

#include "ui_importfilesdialog.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPointer>
#include <QShowEvent>
#include <QTextDocument>

#include <exception>
#include <utility>

namespace tallivo {

ImportFilesDialog::ImportFilesDialog(Dialogs &dialogs, QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::ImportFilesDialog>())
    , m_dialogs(dialogs)
{
    m_ui->setupUi(this);
    setWindowModality(Qt::WindowModal);

    connect(m_ui->fromFileButton, &QAbstractButton::clicked, this,
            [this] { setSource(Source::File); });
    connect(m_ui->fromTextButton, &QAbstractButton::clicked, this,
            [this] { setSource(Source::Text); });
    connect(m_ui->browseButton, &QAbstractButton::clicked, this, &ImportFilesDialog::browse);
    connect(m_ui->pasteButton, &QAbstractButton::clicked, this,
            &ImportFilesDialog::pasteFromClipboard);
    connect(m_ui->importButton, &QAbstractButton::clicked, this, &ImportFilesDialog::importFiles);
    // A path typed by hand has not been read: no count is known for it.
    connect(m_ui->listFileEdit, &QLineEdit::textEdited, this, [this] {
        if (m_busy)
            return;
        ++m_generation;
        m_ui->foundLabel->clear();
    });

    setSource(Source::File);
    reset();
}

ImportFilesDialog::~ImportFilesDialog() = default;

void ImportFilesDialog::reset()
{
    ++m_generation;
    setBusy(false);
    m_ui->listFileEdit->clear();
    m_ui->pathsEdit->clear();
    m_files.clear();
    m_ui->foundLabel->setText(tr("Total Files Found : %1").arg(0));
}

void ImportFilesDialog::showEvent(QShowEvent *event)
{
    if (!event->spontaneous()) {
        reset();
        // Opened, it waits for a path or the paths themselves.
        if (m_source == Source::File)
            m_ui->listFileEdit->setFocus(Qt::OtherFocusReason);
        else
            m_ui->pathsEdit->setFocus(Qt::OtherFocusReason);
    }
    QDialog::showEvent(event);
}

void ImportFilesDialog::updateControls(bool discardInput)
{
    if (discardInput) {
        m_ui->listFileEdit->clear();
        m_ui->pathsEdit->clear();
    }
    const bool fromFile = m_source == Source::File && !m_busy;
    const bool fromText = m_source == Source::Text && !m_busy;
    m_ui->listFileEdit->setEnabled(fromFile);
    m_ui->browseButton->setEnabled(fromFile);
    m_ui->pathsEdit->setEnabled(fromText);
    m_ui->pathsEdit->setReadOnly(!fromText);
    m_ui->pasteButton->setEnabled(fromText);
    m_ui->fromFileButton->setEnabled(!m_busy);
    m_ui->fromTextButton->setEnabled(!m_busy);
    m_ui->importButton->setEnabled(!m_busy);
}

void ImportFilesDialog::setSource(Source source)
{
    if (m_busy)
        return;
    m_source = source;
    updateControls(true);
    QAbstractButton *button = source == Source::File ? m_ui->fromFileButton : m_ui->fromTextButton;
    button->setChecked(true);
    button->setFocus();
}

void ImportFilesDialog::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    updateControls(false);
    if (busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void ImportFilesDialog::browse()
{
    FileDialogRequest request;
    request.mode = FileDialogRequest::OpenFiles;
    request.caption = tr("Select Text File To Import:");
    request.multiple = false;
    request.nameFilters = {tr("Text files (*.txt *.TXT)")};
    m_dialogs.chooseFiles(this, request, [this](const QStringList &paths) {
        if (m_busy)
            return;
        m_ui->listFileEdit->setText(paths.first());
        countChosenFile(paths.first());
    });
}

void ImportFilesDialog::countChosenFile(const QString &path)
{
    // Dropped when the input changes or an import starts meanwhile.
    const quint64 generation = ++m_generation;
    m_ui->foundLabel->setText(tr("Reading the list\u2026"));
    runOnIoPool(
        this,
        [path]() -> std::pair<qint64, qint64> {
            try {
                QString error;
                qsizetype tooLong = 0;
                const qint64 files = importUrls(parseImportFile(path, &error, &tooLong)).size();
                return {files, tooLong};
            } catch (const std::exception &) {
                return {-1, 0};
            }
        },
        [this, generation](std::pair<qint64, qint64> found) {
            if (generation != m_generation)
                return;
            // A list that cannot be read is said so when it is imported.
            m_ui->foundLabel->setText(found.first < 0 ? QString()
                                                      : foundText(found.first, found.second));
        });
}

QString ImportFilesDialog::foundText(qint64 files, qint64 tooLong)
{
    QString text = tr("Total Files Found : %1").arg(files);
    if (tooLong == 1)
        text += tr(" (1 line too long to be a path left out)");
    else if (tooLong > 1)
        text += tr(" (%1 lines too long to be paths left out)").arg(tooLong);
    return text;
}

void ImportFilesDialog::startParse(std::function<QList<QByteArray>(qsizetype *tooLong)> parse,
                                   std::function<void(const Parsed &)> then)
{
    const quint64 generation = ++m_generation;
    setBusy(true);
    // The list file may be on a share that stops answering: read on the
    // I/O pool, never on Qt's, whose end the program would wait for.
    runOnIoPool(
        this,
        [parse = std::move(parse)] {
            Parsed result;
            try {
                result.paths = parse(&result.tooLong);
                result.urls = importUrls(result.paths);
            } catch (const std::exception &e) {
                // Out of memory on a monstrous list: nothing is imported.
                logError("(parseText:)", QString::fromLocal8Bit(e.what()));
                return Parsed();
            }
            return result;
        },
        [this, generation, then](const Parsed &result) {
            if (generation != m_generation)
                return;
            setBusy(false);
            m_files = result.urls;
            m_ui->foundLabel->setText(foundText(m_files.size(), result.tooLong));
            then(result);
            Q_EMIT parsed(int(m_files.size()));
        });
}

void ImportFilesDialog::pasteFromClipboard()
{
    if (m_busy)
        return;
    const QString text = QGuiApplication::clipboard()->text();
    if (text.isEmpty())
        return;
    startParse([text](qsizetype *tooLong) { return parseImportText(text, {}, tooLong); },
               [this](const Parsed &result) {
                   QStringList shown;
                   for (const QByteArray &path : result.paths)
                       shown << displayPath(path);
                   m_ui->pathsEdit->setPlainText(shown.join(QLatin1Char('\n')));
               });
}

QString ImportFilesDialog::pathsText() const
{
    // The raw text keeps no-break spaces, which toPlainText() would turn into
    // blanks; only the paragraph breaks need turning back into line feeds.
    QString text = m_ui->pathsEdit->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return text;
}

void ImportFilesDialog::showAlert(const QString &message, QWidget *focusAfter)
{
    MessageRequest alert;
    alert.icon = QMessageBox::Critical;
    alert.title = appTitle();
    alert.text = message;
    m_dialogs.showMessage(this, alert, [focus = QPointer<QWidget>(focusAfter)](bool) {
        if (focus)
            focus->setFocus();
    });
}

void ImportFilesDialog::importFiles()
{
    if (m_busy)
        return;
    std::function<QList<QByteArray>(qsizetype *)> parse;
    if (m_source == Source::File) {
        const QString path = m_ui->listFileEdit->text();
        if (path.isEmpty()) {
            showAlert(tr("Please select file to import!"), m_ui->browseButton);
            return;
        }
        parse = [path](qsizetype *tooLong) {
            QString error;
            const QList<QByteArray> paths = parseImportFile(path, &error, tooLong);
            if (!error.isEmpty())
                logError("(parseFile:)", error);
            return paths;
        };
    } else {
        if (m_ui->pathsEdit->document()->isEmpty()) {
            showAlert(tr("Please paste file(s) path to import!"), m_ui->pathsEdit);
            return;
        }
        parse = [text = pathsText()](qsizetype *tooLong) {
            return parseImportText(text, {}, tooLong);
        };
    }
    startParse(std::move(parse), [this](const Parsed &result) {
        if (result.urls.isEmpty()) {
            showAlert(tr("No File(s) Found!"), nullptr);
            return;
        }
        Q_EMIT filesImported(result.urls);
        accept();
    });
}

void ImportFilesDialog::reject()
{
    // A parse still under way must not reach the main window later.
    ++m_generation;
    setBusy(false);
    QDialog::reject();
}

} // namespace tallivo
