#include "fakes.h"
#include "importfilesdialog.h"
#include "importparser.h"
#include "iopool.h"
#include "localpath.h"
#include "pagelisttext.h"
#include "pagereport.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace tallivo;

namespace {

// How the input reaches the dialog.
constexpr int Browsed = 0, Typed = 1, Pasted = 2;

} // namespace

class TestImportFilesDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void importAction_data();
    void importAction();
    void cancelDropsPendingParse();
    void keyboardShortcuts();
    void openingFocusesTheInput();
    void chosenListShowsItsCount();
    void overlongLinesAreCounted();

private:
    template <typename T = QPushButton> T *child(const char *name) const
    {
        return m_dialog->findChild<T *>(QLatin1String(name));
    }
    void enter(int entry, const QByteArray &input);
    bool waitParsed();
    QStringList alerts() const;

    QTemporaryDir m_dir;
    test::FakeDialogs m_dialogs;
    std::unique_ptr<ImportFilesDialog> m_dialog;
};

void TestImportFilesDialog::init()
{
    m_dialogs = test::FakeDialogs();
    m_dialog = std::make_unique<ImportFilesDialog>(m_dialogs);
    m_dialog->show();
}

void TestImportFilesDialog::cleanup()
{
    m_dialog.reset();
    QVERIFY(QTest::qWaitFor([] { return IoPool::instance().pending() == 0; }, 300000));
}

// A browsed input is the content of the chosen list file, or with a leading
// "@" the path chosen.
void TestImportFilesDialog::enter(int entry, const QByteArray &input)
{
    m_dialog->setSource(entry == Browsed ? ImportFilesDialog::Source::File
                                         : ImportFilesDialog::Source::Text);
    if (entry == Typed) {
        child<QPlainTextEdit>("pathsEdit")->setPlainText(QString::fromUtf8(input));
    } else if (entry == Pasted) {
        QGuiApplication::clipboard()->setText(QString::fromUtf8(input));
        child("pasteButton")->click();
        QVERIFY(waitParsed());
    } else if (!input.isEmpty()) {
        const bool isPath = input.startsWith('@');
        const QString file = isPath ? QString::fromUtf8(input.mid(1)) : m_dir.filePath("l.txt");
        QFile f(file);
        QVERIFY(isPath || (f.open(QIODevice::WriteOnly) && f.write(input) == input.size()));
        m_dialogs.fileAnswers = {{file}};
        child("browseButton")->click();
    }
}

QStringList TestImportFilesDialog::alerts() const
{
    QStringList out;
    for (const MessageRequest &message : m_dialogs.messages)
        out << message.title + ": " + message.text;
    return out;
}

bool TestImportFilesDialog::waitParsed()
{
    QSignalSpy parsed(m_dialog.get(), &ImportFilesDialog::parsed);
    return !m_dialog->isBusy() || parsed.wait(300000);
}

void TestImportFilesDialog::importAction_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<bool>("alert"); // its words are checked in tst_wording
    const QStringList no;
    QTest::newRow("no file") << Browsed << QByteArray() << no << true;
    QTest::newRow("no text") << Typed << QByteArray() << no << true;
    // A device would be read for ever.
    QTest::newRow("device") << Browsed << QByteArray("@/dev/zero") << no << true;
    QTest::newRow("binary file") << Browsed << QByteArray("\x00\xff\xfe.pdf\n\x80", 8) << no
                                 << true;

    const QString nbsp = QString::fromUtf8("/a/no\u00a0break.tif");
    QTest::newRow("typed") << Typed << "/a/x.tif\n/a/x.tif\n/a/y.PDF\n" + nbsp.toUtf8()
                           << QStringList{"/a/x.tif", "/a/y.PDF", nbsp} << false;
    QTest::newRow("pasted") << Pasted << QByteArray("/a/x.jpg\n/a/b.pdf\n/a/b.pdf\n/c d.TIF")
                            << QStringList{"/a/b.pdf", "/c d.TIF"} << false;
    // A page listing names a file once per page, and once when it has none.
    std::vector<FilePages> listed;
    const std::pair<const char *, int> counts[] = {
        {"/l/two.pdf", 2}, {"/l/none.pdf", 0}, {"/l/broken.tif", 0}, {"/l/one.tif", 1}};
    for (const auto &[path, pages] : counts)
        listed.push_back({urlFromLocalPath(path), pages, {}});
    QTest::newRow("page listing") << Browsed << test::pageListText(listed)
                                  << QStringList{"/l/two.pdf", "/l/none.pdf", "/l/broken.tif",
                                                 "/l/one.tif"}
                                  << false;
    // Every path twice: a quadratic duplicate test would not finish.
    QByteArray data;
    QStringList paths;
    for (int i = 0; i < 500000; ++i) {
        paths.append(QStringLiteral("/box %1/scan %2.tif").arg(i / 1000).arg(i));
        data += (paths.last() + '\n' + paths.last() + '\n').toUtf8();
    }
    QTest::newRow("a million lines") << Browsed << data << paths << false;
}

void TestImportFilesDialog::importAction()
{
    QFETCH(int, entry);
    QFETCH(QByteArray, input);
    QFETCH(QStringList, paths);
    QFETCH(bool, alert);
    QSignalSpy imported(m_dialog.get(), &ImportFilesDialog::filesImported);
    enter(entry, input);
    if (entry == Pasted)
        QCOMPARE(child<QPlainTextEdit>("pathsEdit")->toPlainText(), paths.join('\n'));
    child("importButton")->click();
    // Input is parsed off the GUI thread: the dialog is back in the event loop.
    QCOMPARE(m_dialog->isBusy(), !input.isEmpty());
    QVERIFY(waitParsed());
    QCOMPARE(alerts().size(), alert ? 1 : 0);
    QList<QByteArray> bytes;
    for (const QString &path : std::as_const(paths))
        bytes << path.toUtf8();
    QCOMPARE(imported.value(0).value(0).value<QList<QUrl>>(), importUrls(bytes));
    QCOMPARE(test::figures(child<QLabel>("foundLabel")->text()), QString::number(paths.size()));
    QCOMPARE(m_dialog->isVisible(), paths.isEmpty());
    // Shown again, it starts afresh.
    m_dialog->hide();
    m_dialog->show();
    QVERIFY(m_dialog->files().isEmpty());
    QVERIFY(child<QPlainTextEdit>("pathsEdit")->toPlainText().isEmpty());
}

void TestImportFilesDialog::cancelDropsPendingParse()
{
    enter(Typed, "/p/a.pdf");
    QSignalSpy parsed(m_dialog.get(), &ImportFilesDialog::parsed);
    child("importButton")->click();
    child("cancelButton")->click();
    QVERIFY(!m_dialog->isBusy());
    // The parse is done and its answer on its way, to be dropped.
    QTRY_COMPARE(IoPool::instance().pending(), 0);
    QCoreApplication::processEvents();
    QCOMPARE(parsed.count(), 0);
}

void TestImportFilesDialog::keyboardShortcuts()
{
    QApplication::setActiveWindow(m_dialog.get());
    QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
    QTest::keyClick(m_dialog.get(), Qt::Key_T, Qt::AltModifier);
    QTRY_COMPARE(m_dialog->source(), ImportFilesDialog::Source::Text);
    QTest::keyClick(m_dialog.get(), Qt::Key_I, Qt::AltModifier);
    QTRY_COMPARE(alerts().size(), 1);
}

void TestImportFilesDialog::openingFocusesTheInput()
{
    // Opened, the dialog waits for the input of its source, typed at once.
    for (const auto source : {ImportFilesDialog::Source::File, ImportFilesDialog::Source::Text}) {
        m_dialog->hide();
        m_dialog->setSource(source);
        m_dialog->show();
        QApplication::setActiveWindow(m_dialog.get());
        QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
        QWidget *input = source == ImportFilesDialog::Source::File
                             ? static_cast<QWidget *>(child<QLineEdit>("listFileEdit"))
                             : child<QPlainTextEdit>("pathsEdit");
        QTRY_COMPARE(QApplication::focusWidget(), input);
    }
}

void TestImportFilesDialog::chosenListShowsItsCount()
{
    auto *found = child<QLabel>("foundLabel");
    QCOMPARE(test::figures(found->text()), QStringLiteral("0"));
    // Chosen, the list is read for its count: never "0" meanwhile.
    const QString list = m_dir.filePath("chosen.txt");
    {
        QFile f(list);
        QVERIFY(f.open(QIODevice::WriteOnly) &&
                f.write("/a/x.tif\n/a/y.pdf\n/a/z.txt\n/a/w.TIFF\n"));
    }
    enter(Browsed, "@" + list.toUtf8());
    QVERIFY(test::figures(found->text()) != QStringLiteral("0"));
    QTRY_COMPARE(test::figures(found->text()), QStringLiteral("3"));
    QVERIFY(!m_dialog->isBusy());
    // A path typed over it has not been read: no count.
    QTest::keyClick(child<QLineEdit>("listFileEdit"), Qt::Key_Backspace);
    QVERIFY(found->text().isEmpty());
    // Importing shows the count of what was read.
    child<QLineEdit>("listFileEdit")->setText(list);
    QSignalSpy imported(m_dialog.get(), &ImportFilesDialog::filesImported);
    child("importButton")->click();
    QVERIFY(waitParsed());
    QCOMPARE(imported.size(), 1);
    QCOMPARE(test::figures(found->text()), QStringLiteral("3"));
}

// A line longer than a file's name can be is no path: left out, and said.
void TestImportFilesDialog::overlongLinesAreCounted()
{
    const QByteArray overlong = "/a/" + QByteArray(1 << 20, 'x') + ".pdf\n";
    enter(Browsed, overlong + "/a/b.pdf\n" + overlong);
    auto *found = child<QLabel>("foundLabel");
    // One path; two lines left out.
    QTRY_COMPARE(test::figures(found->text()), QStringLiteral("1 2"));
    enter(Typed, "/a/c.pdf\n" + overlong);
    child("importButton")->click();
    QVERIFY(waitParsed());
    QCOMPARE(test::figures(found->text()), QStringLiteral("1 1"));
}

QTEST_MAIN(TestImportFilesDialog)
#include "tst_importfilesdialog.moc"
