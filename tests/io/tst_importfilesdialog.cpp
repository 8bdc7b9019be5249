#include "importfilesdialog.h"
#include "walk.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

using namespace tallivo;

namespace {

class FakePrompts : public ImportFilesPrompts
{
public:
    void alert(QWidget *, const QString &heading, const QString &message,
               std::function<void()> done) override
    {
        headings.append(heading);
        alerts.append(message);
        done();
    }
    void chooseTextFile(QWidget *, std::function<void(const QString &)> chosen) override
    {
        ++browsed;
        if (!nextFile.isEmpty())
            chosen(nextFile);
    }

    QStringList headings;
    QStringList alerts;
    QString nextFile;
    int browsed = 0;
};

template <typename T> T *child(QWidget &dialog, const char *name)
{
    return dialog.findChild<T *>(QLatin1String(name));
}

} // namespace

class TestImportFilesDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void keyLetters_data();
    void keyLetters();
    void opensWithFileMethodAndSwitches();
    void emptyInputAlerts();
    void noFilesFound_data();
    void noFilesFound();
    void importsText();
    void importsBrowsedFile();
    void pasteKeepsAcceptedPaths();
    void reopeningResets();
    void cancelDropsPendingParse();
    void keyboardShortcuts();
    void millionLineFile();

private:
    QString writeFile(const QString &name, const QByteArray &data);
    void clickImport() { child<QPushButton>(*m_dialog, "importBtn")->click(); }
    bool waitParsed();

    QTemporaryDir m_dir;
    std::unique_ptr<ImportFilesDialog> m_dialog;
    FakePrompts *m_prompts = nullptr;
};

void TestImportFilesDialog::init()
{
    m_dialog = std::make_unique<ImportFilesDialog>(allowedFileTypes());
    auto prompts = std::make_unique<FakePrompts>();
    m_prompts = prompts.get();
    m_dialog->setPrompts(std::move(prompts));
    m_dialog->show();
}

void TestImportFilesDialog::cleanup()
{
    m_dialog.reset();
    QThreadPool::globalInstance()->waitForDone();
}

QString TestImportFilesDialog::writeFile(const QString &name, const QByteArray &data)
{
    const QString path = m_dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
        return {};
    return path;
}

bool TestImportFilesDialog::waitParsed()
{
    QSignalSpy parsed(m_dialog.get(), &ImportFilesDialog::parsed);
    return parsed.wait(60000);
}

void TestImportFilesDialog::keyLetters_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("letter");
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<QString>("marked");
    QTest::newRow("last, case kept") << "Import From File"
                                     << "F" << 2 << "Import From &File";
    QTest::newRow("first, any case") << "Paste From Clipboard"
                                     << "p" << 1 << "&Paste From Clipboard";
    QTest::newRow("ampersand stays text") << "Fish & Chips"
                                          << "c" << 1 << "Fish && &Chips";
    QTest::newRow("not found") << "Import"
                               << "x" << 1 << "Import";
}

void TestImportFilesDialog::keyLetters()
{
    QFETCH(QString, title);
    QFETCH(QString, letter);
    QFETCH(int, occurrence);
    QFETCH(QString, marked);
    QPushButton button(title);
    ImportFilesDialog::setButtonKeyCharacter(&button, letter, occurrence);
    QCOMPARE(button.text(), marked);
    ImportFilesDialog::setButtonKeyCharacter(nullptr, letter, occurrence);
}

void TestImportFilesDialog::opensWithFileMethodAndSwitches()
{
    QCOMPARE(m_dialog->importMethod(), ImportFilesDialog::FromFile);
    QVERIFY(child<QRadioButton>(*m_dialog, "importFromFileBtn")->isChecked());
    QVERIFY(child<QLineEdit>(*m_dialog, "importFile")->isEnabled());
    QVERIFY(child<QPushButton>(*m_dialog, "browseBtn")->isEnabled());
    QVERIFY(child<QPlainTextEdit>(*m_dialog, "importText")->isReadOnly());
    QVERIFY(!child<QPushButton>(*m_dialog, "pasteFromClipboardBtn")->isEnabled());
    QCOMPARE(child<QLabel>(*m_dialog, "totalFilesFound")->text(), QString("Total Files Found : 0"));
    QCOMPARE(child<QRadioButton>(*m_dialog, "importFromTextBtn")->text(),
             QString("Import From &Text"));
    QCOMPARE(child<QPushButton>(*m_dialog, "importBtn")->text(), QString("&Import"));

    // Switching the method discards what was entered.
    auto *text = child<QPlainTextEdit>(*m_dialog, "importText");
    auto *file = child<QLineEdit>(*m_dialog, "importFile");
    file->setText("/a/list.txt");
    child<QRadioButton>(*m_dialog, "importFromTextBtn")->click();
    QCOMPARE(m_dialog->importMethod(), ImportFilesDialog::FromText);
    QVERIFY(file->text().isEmpty());
    QVERIFY(!file->isEnabled());
    QVERIFY(!text->isReadOnly());
    text->setPlainText("/a/x.pdf");
    child<QRadioButton>(*m_dialog, "importFromFileBtn")->click();
    child<QRadioButton>(*m_dialog, "importFromTextBtn")->click();
    QVERIFY(text->toPlainText().isEmpty());
}

void TestImportFilesDialog::emptyInputAlerts()
{
    QSignalSpy imported(m_dialog.get(), &ImportFilesDialog::filesImported);
    clickImport();
    m_dialog->importMethodChanged(ImportFilesDialog::FromText);
    clickImport();
    QCOMPARE(m_prompts->alerts, (QStringList{"Please select file to import!",
                                             "Please paste file(s) path to import!"}));
    QCOMPARE(m_prompts->headings, (QStringList{"Tallivo", "Tallivo"}));
    QVERIFY(!m_dialog->isBusy());
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(imported.count(), 0);
}

void TestImportFilesDialog::noFilesFound_data()
{
    QTest::addColumn<bool>("fromFile");
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("file of other types") << true << QByteArray("/a/x.jpg\n\n/a/y.txt\n");
    QTest::newRow("file not UTF-8") << true << QByteArray("/a/\xe9t\xe9.pdf\n");
    QTest::newRow("binary file") << true << QByteArray("\x00\x01\xff\xfe.pdf\n\x80", 9);
    QTest::newRow("missing file") << true << QByteArray();
    QTest::newRow("text of other types") << false << QByteArray("/a/x.jpg\n\n");
    QTest::newRow("text with trailing blank") << false << QByteArray("/a/x.pdf ");
}

void TestImportFilesDialog::noFilesFound()
{
    QFETCH(bool, fromFile);
    QFETCH(QByteArray, input);
    QSignalSpy imported(m_dialog.get(), &ImportFilesDialog::filesImported);
    if (fromFile) {
        const QString path =
            input.isEmpty() ? m_dir.filePath("missing.txt") : writeFile("list.txt", input);
        child<QLineEdit>(*m_dialog, "importFile")->setText(path);
    } else {
        m_dialog->importMethodChanged(ImportFilesDialog::FromText);
        child<QPlainTextEdit>(*m_dialog, "importText")->setPlainText(QString::fromUtf8(input));
    }
    clickImport();
    QVERIFY(waitParsed());
    QCOMPARE(m_prompts->alerts, QStringList{"No File(s) Found!"});
    QCOMPARE(imported.count(), 0);
    QVERIFY(child<QPushButton>(*m_dialog, "importBtn")->isEnabled());
    QVERIFY(m_dialog->isVisible());
    // The input stays for the user to correct.
    if (!fromFile)
        QCOMPARE(child<QPlainTextEdit>(*m_dialog, "importText")->toPlainText(),
                 QString::fromUtf8(input));
}

void TestImportFilesDialog::importsText()
{
    QSignalSpy imported(m_dialog.get(), &ImportFilesDialog::filesImported);
    m_dialog->importMethodChanged(ImportFilesDialog::FromText);
    const QString nbsp = QString::fromUtf8("/a/no\u00a0break.tif");
    child<QPlainTextEdit>(*m_dialog, "importText")
        ->setPlainText("/a/x.tif\n/a/x.tif\n/a/y.PDF\n" + nbsp);
    clickImport();
    QVERIFY(imported.wait(60000));
    const QList<QUrl> urls = imported.at(0).at(0).value<QList<QUrl>>();
    QCOMPARE(urls, (QList<QUrl>{QUrl::fromLocalFile("/a/x.tif"), QUrl::fromLocalFile("/a/y.PDF"),
                                QUrl::fromLocalFile(nbsp)}));
    QCOMPARE(child<QLabel>(*m_dialog, "totalFilesFound")->text(), QString("Total Files Found : 3"));
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(m_dialog->result(), int(QDialog::Accepted));
    QVERIFY(m_prompts->alerts.isEmpty());
}

void TestImportFilesDialog::importsBrowsedFile()
{
    QSignalSpy imported(m_dialog.get(), &ImportFilesDialog::filesImported);
    m_prompts->nextFile = writeFile("list.txt", "/s/one.pdf\r\n/s/two.TIFF\n/s/three.jpg\n");
    child<QPushButton>(*m_dialog, "browseBtn")->click();
    QCOMPARE(m_prompts->browsed, 1);
    QCOMPARE(child<QLineEdit>(*m_dialog, "importFile")->text(), m_prompts->nextFile);
    clickImport();
    QVERIFY(imported.wait(60000));
    QCOMPARE(imported.at(0).at(0).value<QList<QUrl>>(),
             QList<QUrl>{QUrl::fromLocalFile("/s/two.TIFF")});
}

void TestImportFilesDialog::pasteKeepsAcceptedPaths()
{
    m_dialog->importMethodChanged(ImportFilesDialog::FromText);
    auto *text = child<QPlainTextEdit>(*m_dialog, "importText");
    text->setPlainText("typed");
    QGuiApplication::clipboard()->clear();
    m_dialog->pasetFromClipboardAction();
    QVERIFY(!m_dialog->isBusy());
    QCOMPARE(text->toPlainText(), QString("typed"));

    QGuiApplication::clipboard()->setText("/a/x.jpg\n/a/b.pdf\n/a/b.pdf\n/c d.TIF\n");
    child<QPushButton>(*m_dialog, "pasteFromClipboardBtn")->click();
    QVERIFY(waitParsed());
    QCOMPARE(text->toPlainText(), QString("/a/b.pdf\n/c d.TIF"));
    QCOMPARE(child<QLabel>(*m_dialog, "totalFilesFound")->text(), QString("Total Files Found : 2"));
    QCOMPARE(m_dialog->files().size(), 2);
}

void TestImportFilesDialog::reopeningResets()
{
    m_dialog->importMethodChanged(ImportFilesDialog::FromText);
    child<QPlainTextEdit>(*m_dialog, "importText")->setPlainText("/a/x.pdf");
    clickImport();
    QVERIFY(waitParsed());
    QVERIFY(!m_dialog->isVisible());
    m_dialog->show();
    QVERIFY(child<QPlainTextEdit>(*m_dialog, "importText")->toPlainText().isEmpty());
    QVERIFY(m_dialog->files().isEmpty());
    QCOMPARE(child<QLabel>(*m_dialog, "totalFilesFound")->text(), QString("Total Files Found : 0"));
    // The method used last is kept.
    QCOMPARE(m_dialog->importMethod(), ImportFilesDialog::FromText);
    QVERIFY(!child<QPlainTextEdit>(*m_dialog, "importText")->isReadOnly());
}

void TestImportFilesDialog::cancelDropsPendingParse()
{
    QByteArray data;
    for (int i = 0; i < 100000; ++i)
        data += "/p/" + QByteArray::number(i) + ".pdf\n";
    child<QLineEdit>(*m_dialog, "importFile")->setText(writeFile("big.txt", data));
    QSignalSpy imported(m_dialog.get(), &ImportFilesDialog::filesImported);
    QSignalSpy parsed(m_dialog.get(), &ImportFilesDialog::parsed);
    clickImport();
    QVERIFY(m_dialog->isBusy());
    child<QPushButton>(*m_dialog, "cancelBtn")->click();
    QVERIFY(!m_dialog->isVisible());
    QVERIFY(!m_dialog->isBusy());
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    QCOMPARE(imported.count(), 0);
    QCOMPARE(parsed.count(), 0);
}

void TestImportFilesDialog::keyboardShortcuts()
{
    QApplication::setActiveWindow(m_dialog.get());
    QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
    QTest::keyClick(m_dialog.get(), Qt::Key_T, Qt::AltModifier);
    QTRY_COMPARE(m_dialog->importMethod(), ImportFilesDialog::FromText);
    QGuiApplication::clipboard()->setText("/k/a.pdf");
    QTest::keyClick(m_dialog.get(), Qt::Key_P, Qt::AltModifier);
    QVERIFY(waitParsed());
    QCOMPARE(child<QPlainTextEdit>(*m_dialog, "importText")->toPlainText(), QString("/k/a.pdf"));
    QTest::keyClick(m_dialog.get(), Qt::Key_F, Qt::AltModifier);
    QTRY_COMPARE(m_dialog->importMethod(), ImportFilesDialog::FromFile);
    QTest::keyClick(m_dialog.get(), Qt::Key_I, Qt::AltModifier);
    QTRY_COMPARE(m_prompts->alerts, QStringList{"Please select file to import!"});
    QTRY_COMPARE(QApplication::focusWidget(), child<QWidget>(*m_dialog, "browseBtn"));
}

void TestImportFilesDialog::millionLineFile()
{
    // Every path twice: a quadratic duplicate test would not finish.
    QByteArray data;
    data.reserve(48 * 1000 * 1000);
    for (int i = 0; i < 500000; ++i) {
        const QByteArray line = "/archive/box " + QByteArray::number(i / 1000) + "/scan " +
                                QByteArray::number(i) + ".tif\n";
        data += line + line;
    }
    child<QLineEdit>(*m_dialog, "importFile")->setText(writeFile("million.txt", data));
    QSignalSpy imported(m_dialog.get(), &ImportFilesDialog::filesImported);
    clickImport();
    // The work is off the GUI thread: the dialog is back in the event loop.
    QVERIFY(m_dialog->isBusy());
    QVERIFY(!child<QPushButton>(*m_dialog, "importBtn")->isEnabled());
    QVERIFY(imported.wait(300000));
    const QList<QUrl> urls = imported.at(0).at(0).value<QList<QUrl>>();
    QCOMPARE(urls.size(), 500000);
    QCOMPARE(urls.first(), QUrl::fromLocalFile("/archive/box 0/scan 0.tif"));
    QCOMPARE(urls.last(), QUrl::fromLocalFile("/archive/box 499/scan 499999.tif"));
}

QTEST_MAIN(TestImportFilesDialog)
#include "tst_importfilesdialog.moc"
