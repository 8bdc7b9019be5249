#include "importfilesdialog.h"

#include "importparser.h"
#include "syslogline.h"
#include "utilities.h"

#include "ui_ImportFiles.h"

#include <QClipboard>
#include <QFileDialog>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QShowEvent>
#include <QtConcurrent>
#include <QTextDocument>

#include <exception>

namespace tallivo {

namespace {

class WidgetPrompts : public ImportFilesPrompts
{
public:
    void alert(QWidget *parent, const QString &heading, const QString &message,
               std::function<void()> done) override
    {
        auto *box =
            new QMessageBox(QMessageBox::Critical, heading, message, QMessageBox::Ok, parent);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::WindowModal);
        QObject::connect(box, &QMessageBox::finished, parent, [done = std::move(done)] { done(); });
        box->open();
    }

    void chooseTextFile(QWidget *parent, std::function<void(const QString &)> chosen) override
    {
        auto *panel = new QFileDialog(parent, QStringLiteral("Select Text File To Import:"));
        panel->setAttribute(Qt::WA_DeleteOnClose);
        panel->setWindowModality(Qt::WindowModal);
        panel->setAcceptMode(QFileDialog::AcceptOpen);
        panel->setFileMode(QFileDialog::ExistingFile);
        panel->setNameFilter(QStringLiteral("Text files (*.txt *.TXT)"));
        QObject::connect(panel, &QFileDialog::filesSelected, parent,
                         [chosen = std::move(chosen)](const QStringList &paths) {
                             if (!paths.isEmpty())
                                 chosen(paths.last());
                         });
        panel->open();
    }
};

} // namespace

ImportFilesDialog::ImportFilesDialog(const QStringList &allowedFileTypes, QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::ImportFiles>())
    , m_prompts(std::make_unique<WidgetPrompts>())
    , m_allowedTypes(allowedFileTypes)
{
    m_ui->setupUi(this);
    setWindowModality(Qt::WindowModal);

    setButtonKeyCharacter(m_ui->importFromFileBtn, QStringLiteral("F"), 2);
    setButtonKeyCharacter(m_ui->importFromTextBtn, QStringLiteral("T"), 2);
    setButtonKeyCharacter(m_ui->pasteFromClipboardBtn, QStringLiteral("p"), 1);
    setButtonKeyCharacter(m_ui->importBtn, QStringLiteral("i"), 1);

    connect(m_ui->importFromFileBtn, &QAbstractButton::clicked, this,
            [this] { importMethodChanged(FromFile); });
    connect(m_ui->importFromTextBtn, &QAbstractButton::clicked, this,
            [this] { importMethodChanged(FromText); });
    connect(m_ui->browseBtn, &QAbstractButton::clicked, this,
            &ImportFilesDialog::browseImportFileAction);
    connect(m_ui->pasteFromClipboardBtn, &QAbstractButton::clicked, this,
            &ImportFilesDialog::pasetFromClipboardAction);
    connect(m_ui->importBtn, &QAbstractButton::clicked, this, &ImportFilesDialog::importAction);
    connect(m_ui->cancelBtn, &QAbstractButton::clicked, this, &ImportFilesDialog::cancelAction);

    importMethodChanged(FromFile);
    resetView();
}

ImportFilesDialog::~ImportFilesDialog() = default;

void ImportFilesDialog::setPrompts(std::unique_ptr<ImportFilesPrompts> prompts)
{
    m_prompts = prompts ? std::move(prompts) : std::make_unique<WidgetPrompts>();
}

void ImportFilesDialog::resetView()
{
    ++m_generation;
    setBusy(false);
    m_ui->importFile->clear();
    m_ui->importText->clear();
    m_files.clear();
    m_ui->totalFilesFound->setText(totalFilesFoundText(0));
}

void ImportFilesDialog::showEvent(QShowEvent *event)
{
    if (!event->spontaneous())
        resetView();
    QDialog::showEvent(event);
}

void ImportFilesDialog::applyMethod(int tag, bool discardInput)
{
    if (discardInput) {
        m_ui->importFile->clear();
        m_ui->importText->clear();
    }
    const bool fromFile = tag == FromFile && !m_busy;
    const bool fromText = tag == FromText && !m_busy;
    m_ui->importFile->setEnabled(fromFile);
    m_ui->browseBtn->setEnabled(fromFile);
    m_ui->importText->setEnabled(fromText);
    m_ui->importText->setReadOnly(!fromText);
    m_ui->pasteFromClipboardBtn->setEnabled(fromText);
    m_ui->importFromFileBtn->setEnabled(!m_busy);
    m_ui->importFromTextBtn->setEnabled(!m_busy);
    m_ui->importBtn->setEnabled(!m_busy);
}

void ImportFilesDialog::importMethodChanged(int tag)
{
    if (m_busy)
        return;
    applyMethod(tag, true);
    if (tag == FromFile) {
        m_method = FromFile;
        m_ui->importFromFileBtn->setChecked(true);
        m_ui->importFromFileBtn->setFocus();
    } else if (tag == FromText) {
        m_method = FromText;
        m_ui->importFromTextBtn->setChecked(true);
        m_ui->importFromTextBtn->setFocus();
    }
}

void ImportFilesDialog::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    applyMethod(m_method, false);
    if (busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void ImportFilesDialog::browseImportFileAction()
{
    m_prompts->chooseTextFile(this, [this](const QString &path) {
        if (!m_busy)
            m_ui->importFile->setText(path);
    });
}

void ImportFilesDialog::startParse(ParseJob job, std::function<void(const ParseResult &)> then)
{
    const quint64 generation = ++m_generation;
    setBusy(true);
    auto *watcher = new QFutureWatcher<ParseResult>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, generation, then] {
        watcher->deleteLater();
        if (generation != m_generation)
            return;
        setBusy(false);
        const ParseResult result = watcher->result();
        m_files = result.urls;
        m_ui->totalFilesFound->setText(totalFilesFoundText(m_files.size()));
        then(result);
        emit parsed(int(m_files.size()));
    });
    watcher->setFuture(QtConcurrent::run([job = std::move(job)] {
        try {
            return job();
        } catch (const std::exception &e) {
            logError("(parseText:)", QString::fromLocal8Bit(e.what()));
            return ParseResult();
        }
    }));
}

void ImportFilesDialog::pasetFromClipboardAction()
{
    if (m_busy)
        return;
    const QString text = QGuiApplication::clipboard()->text();
    if (text.isEmpty())
        return;
    const QStringList types = m_allowedTypes;
    startParse(
        [text, types] {
            ParseResult result;
            result.paths = parseImportText(text, types);
            result.urls = importUrls(result.paths);
            return result;
        },
        [this](const ParseResult &result) {
            m_ui->importText->setPlainText(result.paths.join(QLatin1Char('\n')));
        });
}

QString ImportFilesDialog::importTextContent() const
{
    // The raw text keeps no-break spaces, which toPlainText() would turn into
    // blanks; only the paragraph breaks need turning back into line feeds.
    QString text = m_ui->importText->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return text;
}

void ImportFilesDialog::showAlert(const QString &message, QWidget *focusAfter)
{
    QPointer<QWidget> focus(focusAfter);
    m_prompts->alert(this, getAppTitle(), message, [focus] {
        if (focus)
            focus->setFocus();
    });
}

void ImportFilesDialog::importAction()
{
    if (m_busy)
        return;
    const QStringList types = m_allowedTypes;
    ParseJob job;
    if (m_method == FromFile) {
        const QString path = m_ui->importFile->text();
        if (path.isEmpty()) {
            showAlert(QStringLiteral("Please select file to import!"), m_ui->browseBtn);
            return;
        }
        job = [path, types] {
            ParseResult result;
            QString error;
            const std::optional<QByteArray> data = readImportFile(path, &error);
            if (!data) {
                logError("(parseFile:)", error);
                return result;
            }
            result.paths = parseImportList(*data, types);
            result.urls = importUrls(result.paths);
            return result;
        };
    } else {
        if (m_ui->importText->document()->isEmpty()) {
            showAlert(QStringLiteral("Please paste file(s) path to import!"), m_ui->importText);
            return;
        }
        job = [text = importTextContent(), types] {
            ParseResult result;
            result.paths = parseImportText(text, types);
            result.urls = importUrls(result.paths);
            return result;
        };
    }
    startParse(std::move(job), [this](const ParseResult &result) {
        if (result.urls.isEmpty()) {
            showAlert(QStringLiteral("No File(s) Found!"), nullptr);
            return;
        }
        emit filesImported(result.urls);
        accept();
    });
}

void ImportFilesDialog::cancelAction()
{
    reject();
}

void ImportFilesDialog::reject()
{
    // A parse still under way must not reach the main window later.
    ++m_generation;
    setBusy(false);
    QDialog::reject();
}

void ImportFilesDialog::setButtonKeyCharacter(QAbstractButton *button, const QString &keyChar,
                                              int occurrance)
{
    if (!button || keyChar.isEmpty())
        return;
    QString title = button->text();
    const qsizetype at = occurrance == 1 ? title.indexOf(keyChar, 0, Qt::CaseInsensitive)
                                         : title.lastIndexOf(keyChar, -1, Qt::CaseSensitive);
    if (at < 0)
        return;
    // Ampersands already in the title are text, not mnemonics.
    QString marked = title.left(at).replace(QLatin1Char('&'), QLatin1String("&&"));
    marked += QLatin1Char('&');
    marked += title.mid(at).replace(QLatin1Char('&'), QLatin1String("&&"));
    button->setText(marked);
}

} // namespace tallivo
