#include "blockreader.h"
#include "pdfstructure.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <poppler-document.h>
#include <poppler-global.h>

#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace tallivo;
using Reason = PdfStructureReason;

Q_DECLARE_METATYPE(PdfStructureReason)

namespace {

void quietPoppler(const std::string &, void *) {}

QByteArray number(qint64 n)
{
    return QByteArray::number(n);
}

QByteArray entry(qint64 offset, char type = 'n', int gen = 0)
{
    return number(offset).rightJustified(10, '0') + ' ' + number(gen).rightJustified(5, '0') + ' ' +
           type + " \n";
}

// A classic PDF: objects numbered from 1, one cross-reference table.
struct ClassicPdf
{
    QList<QByteArray> objects;
    QByteArray trailerExtra = {};
    qint64 size = -1; // trailer /Size; -1: objects + 1
    bool withStartxref = true;
    int startxrefShift = 0;

    QByteArray bytes() const
    {
        QByteArray out = "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n";
        QList<qint64> offsets;
        for (int i = 0; i < objects.size(); ++i) {
            offsets << out.size();
            out += number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
        }
        const qint64 xref = out.size();
        out += "xref\n0 " + number(objects.size() + 1) + "\n" + entry(0, 'f', 65535);
        for (qint64 offset : offsets)
            out += entry(offset);
        const qint64 declared = size < 0 ? objects.size() + 1 : size;
        out += "trailer\n<< /Size " + number(declared) + " /Root 1 0 R " + trailerExtra + ">>\n";
        if (withStartxref)
            out += "startxref\n" + number(xref + startxrefShift) + "\n";
        return out + "%%EOF\n";
    }
};

QList<QByteArray> pageTree(int pages, const QByteArray &pagesExtra)
{
    QList<QByteArray> objects{"<< /Type /Catalog /Pages 2 0 R >>", {}};
    QByteArray kids;
    for (int i = 0; i < pages; ++i) {
        kids += number(3 + i) + " 0 R ";
        objects << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>";
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] " + pagesExtra + " >>";
    return objects;
}

ClassicPdf plainPdf(int pages)
{
    return {pageTree(pages, "/Count " + number(pages))};
}

// Appends an update: the given objects and a table section whose /Prev is
// `prev`. The /Prev is written 10 digits wide so a test can patch it.
QByteArray appendUpdate(const QByteArray &base, const QList<QPair<int, QByteArray>> &objects,
                        qint64 prev, qint64 size, qint64 *xrefAt = nullptr,
                        const QByteArray &root = "1 0 R")
{
    QByteArray out = base;
    QByteArray table;
    for (const auto &[num, body] : objects) {
        table += number(num) + " 1\n" + entry(out.size());
        out += number(num) + " 0 obj\n" + body + "\nendobj\n";
    }
    const qint64 xref = out.size();
    if (xrefAt)
        *xrefAt = xref;
    out += "xref\n" + table + "trailer\n<< /Size " + number(size) + " /Root " + root + " /Prev " +
           number(prev).rightJustified(10, '0') + " >>\nstartxref\n" + number(xref) + "\n%%EOF\n";
    return out;
}

qint64 lastStartxref(const QByteArray &pdf)
{
    const qsizetype at = pdf.lastIndexOf("startxref");
    return pdf.mid(at + 9).trimmed().split('\n').value(0).toLongLong();
}

// A file whose newest section is a cross-reference stream (no filter), with
// the objects marked `inStream` in one object stream. `hybrid` writes a
// table for the objects in the file and points its /XRefStm at the stream.
struct StreamPdf
{
    QList<QByteArray> objects; // numbered from 1
    QList<bool> inStream;
    QByteArray objectStreamFilter = {}; // e.g. "/Filter /ASCIIHexDecode"; data is hex then
    bool indirectLength = false;
    bool hybrid = false;
    qint64 extraSize = 0;

    QByteArray bytes() const
    {
        QByteArray out = "%PDF-1.5\n";
        const int n = int(objects.size());
        const int stm = n + 1;
        const int xrefNum = n + (indirectLength ? 3 : 2);
        QList<qint64> offsets(n + 4, 0);
        QList<int> indexInStream(n + 1, -1);
        QByteArray header;
        QByteArray body;
        int count = 0;
        for (int i = 0; i < n; ++i) {
            if (inStream.value(i)) {
                header += number(i + 1) + ' ' + number(body.size()) + ' ';
                body += objects[i] + '\n';
                indexInStream[i + 1] = count++;
            } else {
                offsets[i + 1] = out.size();
                out += number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
            }
        }
        QByteArray data = header + body;
        if (!objectStreamFilter.isEmpty())
            data = data.toHex() + '>';
        offsets[stm] = out.size();
        const QByteArray length = indirectLength ? number(n + 2) + " 0 R" : number(data.size());
        out += number(stm) + " 0 obj\n<< /Type /ObjStm /N " + number(count) + " /First " +
               number(header.size()) + " /Length " + length + ' ' + objectStreamFilter +
               " >>\nstream\n" + data + "\nendstream\nendobj\n";
        if (indirectLength) {
            offsets[n + 2] = out.size();
            out += number(n + 2) + " 0 obj\n" + number(data.size()) + "\nendobj\n";
        }
        const int size = xrefNum + 1;
        QByteArray entries;
        for (int num = 0; num < size; ++num) {
            const int k = indexInStream.value(num, -1);
            const char type = num == 0 ? 0 : k >= 0 ? 2 : 1;
            const qint64 field = k >= 0 ? stm : num == xrefNum ? out.size() : offsets[num];
            entries += char(type);
            for (int shift = 24; shift >= 0; shift -= 8)
                entries += char((field >> shift) & 0xff);
            entries += char(k >= 0 ? k >> 8 : 0);
            entries += char(k >= 0 ? k & 0xff : 0);
        }
        const qint64 streamAt = out.size();
        out += number(xrefNum) + " 0 obj\n<< /Type /XRef /Size " + number(size + extraSize) +
               " /Index [0 " + number(size) + "] /W [1 4 2] /Root 1 0 R /Length " +
               number(entries.size()) + " >>\nstream\n" + entries + "\nendstream\nendobj\n";
        if (!hybrid)
            return out + "startxref\n" + number(streamAt) + "\n%%EOF\n";
        // The table lists what is in the file; the stream adds the rest.
        const qint64 table = out.size();
        out += "xref\n0 1\n" + entry(0, 'f', 65535);
        for (int num = 1; num < size; ++num) {
            if (indexInStream.value(num, -1) < 0 && num != xrefNum)
                out += number(num) + " 1\n" + entry(offsets[num]);
        }
        out += "trailer\n<< /Size " + number(size + extraSize) + " /Root 1 0 R /XRefStm " +
               number(streamAt) + " >>\nstartxref\n" + number(table) + "\n%%EOF\n";
        return out;
    }
};

struct Examined
{
    PdfStructureResult result;
    int readCalls = 0;
};

} // namespace

class TestPdfStructure : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void crafted_data();
    void crafted();
    void incrementalUpdates();
    void xrefSections_data();
    void xrefSections();
    void unreadableFile();
    void qpdfRewrites_data();
    void qpdfRewrites();
    void corpusAgreement();

private:
    QString write(const QString &name, const QByteArray &bytes);
    Examined examine(const QString &path);
    std::optional<int> popplerPages(const QString &path);
    void checkAgainstPoppler(const QString &path, const Examined &examined);
    bool qpdf(const QStringList &arguments);

    QTemporaryDir m_dir;
    QString m_qpdf;
};

void TestPdfStructure::initTestCase()
{
    QVERIFY(m_dir.isValid());
    poppler::set_debug_error_function(quietPoppler, nullptr);
    m_qpdf = QStandardPaths::findExecutable(QStringLiteral("qpdf"));
}

QString TestPdfStructure::write(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

Examined TestPdfStructure::examine(const QString &path)
{
    Examined examined;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        examined.result.reason = Reason::ReadFailed;
        return examined;
    }
    BlockReader reader(fd, st.st_size);
    examined.result = examinePdfStructure(reader);
    examined.readCalls = reader.readCalls();
    ::close(fd);
    return examined;
}

std::optional<int> TestPdfStructure::popplerPages(const QString &path)
{
    std::unique_ptr<poppler::document> doc(
        poppler::document::load_from_file(QFile::encodeName(path).toStdString()));
    if (!doc || doc->is_locked())
        return std::nullopt;
    return doc->pages();
}

// An answer must be poppler's answer.
void TestPdfStructure::checkAgainstPoppler(const QString &path, const Examined &examined)
{
    if (examined.result.pages)
        QCOMPARE(popplerPages(path), std::optional<int>(*examined.result.pages));
}

bool TestPdfStructure::qpdf(const QStringList &arguments)
{
    QProcess process;
    process.start(m_qpdf, QStringList{QStringLiteral("--warning-exit-0")} + arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

void TestPdfStructure::crafted_data()
{
    QTest::addColumn<QByteArray>("pdf");
    QTest::addColumn<PdfStructureReason>("reason");
    QTest::addColumn<int>("pages");

    QTest::newRow("classic table") << plainPdf(3).bytes() << Reason::Counted << 3;
    {
        ClassicPdf pdf = plainPdf(2);
        pdf.objects[1].replace("/Count 2", "/Count 5 0 R");
        pdf.objects << "2";
        QTest::newRow("indirect /Count") << pdf.bytes() << Reason::Counted << 2;
    }
    {
        ClassicPdf pdf = plainPdf(2);
        pdf.objects[0] =
            "<< /Type /Catalog /Pages 2 0 R /PageMode /UseNone /PageMode /UseOutlines >>";
        QTest::newRow("duplicate key nobody looks up") << pdf.bytes() << Reason::Counted << 2;
    }
    {
        StreamPdf pdf{pageTree(3, "/Count 3"), {true, true, true, true, false}};
        QTest::newRow("object stream") << pdf.bytes() << Reason::Counted << 3;
        pdf.indirectLength = true;
        QTest::newRow("object stream, indirect /Length") << pdf.bytes() << Reason::Counted << 3;
        pdf.hybrid = true;
        QTest::newRow("hybrid table and stream") << pdf.bytes() << Reason::Counted << 3;
        pdf.extraSize = 4;
        QTest::newRow("hybrid with undefined numbers") << pdf.bytes() << Reason::DamagedXref << -1;
        pdf = StreamPdf{pageTree(3, "/Count 3"), {true, true}, "/Filter /ASCIIHexDecode"};
        QTest::newRow("object stream filter") << pdf.bytes() << Reason::Unsupported << -1;
    }

    QTest::newRow("no header") << QByteArray("Hello\n" + plainPdf(1).bytes()) << Reason::NoHeader
                               << -1;
    {
        ClassicPdf pdf = plainPdf(1);
        pdf.withStartxref = false;
        QTest::newRow("no startxref") << pdf.bytes() << Reason::NoStartXref << -1;
        pdf = plainPdf(1);
        pdf.startxrefShift = 3;
        QTest::newRow("startxref off by 3") << pdf.bytes() << Reason::DamagedXref << -1;
    }
    {
        QByteArray pdf = plainPdf(2).bytes();
        pdf.replace(" n \n", "n\n");
        QTest::newRow("19-byte entries") << pdf << Reason::DamagedXref << -1;
    }
    {
        ClassicPdf pdf = plainPdf(1);
        pdf.trailerExtra = "/Encrypt << /Filter /Standard >> ";
        QTest::newRow("encrypted") << pdf.bytes() << Reason::Encrypted << -1;
    }
    {
        QByteArray pdf = plainPdf(2).bytes();
        // The catalog's entry leads to the page tree's offset.
        const QByteArray second = entry(pdf.indexOf("2 0 obj"));
        pdf.replace(pdf.indexOf(entry(pdf.indexOf("1 0 obj"))), 20, second);
        QTest::newRow("object header mismatch") << pdf << Reason::DamagedObject << -1;
    }
    {
        ClassicPdf pdf = plainPdf(1);
        pdf.objects[0] = "<< /Type /Catalog /Pages 40 0 R >>";
        QTest::newRow("missing page tree") << pdf.bytes() << Reason::DamagedObject << -1;
        pdf = plainPdf(1);
        pdf.objects[0] = "<< /Type /Catalog /Pages 2 0 R /AcroForm 40 0 R >>";
        QTest::newRow("catalog entry poppler loads is missing")
            << pdf.bytes() << Reason::DamagedObject << -1;
    }
    {
        ClassicPdf pdf = plainPdf(1);
        pdf.objects[0] = "<< /Type /Catalog /Pages 3 0 R >>";
        pdf.objects[2] = "<< /Type /Page /Count 1 /MediaBox [0 0 612 792] >>";
        QTest::newRow("pages is a page") << pdf.bytes() << Reason::PagesIsPage << -1;
    }
    for (const char *count : {"0", "-2", "2.0", "/Two", "(2)"}) {
        ClassicPdf pdf = plainPdf(2);
        pdf.objects[1].replace("/Count 2", QByteArray("/Count ") + count);
        QTest::addRow("/Count %s", count) << pdf.bytes() << Reason::BadCount << -1;
    }
    {
        ClassicPdf pdf = plainPdf(2);
        pdf.objects[1].replace("/Count 2", "/Count 2 /Count 3");
        QTest::newRow("/Count twice") << pdf.bytes() << Reason::DamagedObject << -1;
        pdf = plainPdf(2);
        pdf.objects[1].replace("/Count 2", "/Count 50");
        QTest::newRow("/Count above /Size") << pdf.bytes() << Reason::CountAboveObjects << -1;
        // pdfunite writes a /Size below its own table: the table counts.
        pdf = plainPdf(3);
        pdf.size = 1;
        QTest::newRow("/Size understated") << pdf.bytes() << Reason::Counted << 3;
        pdf.objects[1].replace("/Count 3", "/Count 9");
        QTest::newRow("/Count above the table, /Size understated")
            << pdf.bytes() << Reason::CountAboveObjects << -1;
    }
    {
        ClassicPdf pdf = plainPdf(1);
        pdf.objects[0] = "<< /Type /Catalog /Pages 2 0 R /Deep " + QByteArray(40, '[') +
                         QByteArray(40, ']') + " >>";
        QTest::newRow("nesting too deep") << pdf.bytes() << Reason::LimitExceeded << -1;
    }
}

void TestPdfStructure::crafted()
{
    QFETCH(QByteArray, pdf);
    QFETCH(PdfStructureReason, reason);
    QFETCH(int, pages);
    const QString path = write(QStringLiteral("crafted.pdf"), pdf);
    const Examined examined = examine(path);
    QCOMPARE(examined.result.reason, reason);
    QCOMPARE(examined.result.pages.value_or(-1), pages);
    QVERIFY(examined.readCalls <= 2);
    checkAgainstPoppler(path, examined);
}

void TestPdfStructure::incrementalUpdates()
{
    const QByteArray base = plainPdf(4).bytes();
    const qint64 baseXref = lastStartxref(base);

    // Newest wins: the update drops two pages.
    const QByteArray dropped =
        appendUpdate(base, {{2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>"}}, baseXref, 7);
    QString path = write(QStringLiteral("update.pdf"), dropped);
    Examined examined = examine(path);
    QCOMPARE(examined.result.pages, std::optional<qint32>(2));
    checkAgainstPoppler(path, examined);

    // The page tree only in the older section: found through /Prev.
    const QByteArray catalogOnly =
        appendUpdate(base, {{1, "<< /Type /Catalog /Pages 2 0 R /Lang (en) >>"}}, baseXref, 7);
    path = write(QStringLiteral("older.pdf"), catalogOnly);
    examined = examine(path);
    QCOMPARE(examined.result.pages, std::optional<qint32>(4));
    checkAgainstPoppler(path, examined);

    // Loops: a section pointing at itself, two pointing at each other.
    qint64 first = 0;
    QByteArray loop = appendUpdate(base, {{1, "<< /Type /Catalog /Pages 2 0 R >>"}}, 0, 7, &first);
    loop.replace(loop.lastIndexOf("/Prev ") + 6, 10, number(first).rightJustified(10, '0'));
    examined = examine(write(QStringLiteral("self.pdf"), loop));
    QCOMPARE(examined.result.reason, Reason::XrefLoop);

    loop = appendUpdate(base, {{1, "<< /Type /Catalog /Pages 2 0 R >>"}}, 0, 7, &first);
    const qsizetype firstPrev = loop.lastIndexOf("/Prev ") + 6;
    qint64 second = 0;
    loop = appendUpdate(loop, {{6, "<< >>"}}, first, 7, &second);
    loop.replace(firstPrev, 10, number(second).rightJustified(10, '0'));
    examined = examine(write(QStringLiteral("two.pdf"), loop));
    QCOMPARE(examined.result.reason, Reason::XrefLoop);
}

// The cross-reference reader: tables, streams and chains of sections that
// the library reads as they are, and damage it would repair by scanning the
// file. `repaired` rows are ones poppler still counts after its repair: the
// reader must step aside there rather than guess.
void TestPdfStructure::xrefSections_data()
{
    QTest::addColumn<QByteArray>("pdf");
    QTest::addColumn<PdfStructureReason>("reason");
    QTest::addColumn<int>("pages");
    QTest::addColumn<bool>("repaired");

    const QByteArray classic = plainPdf(3).bytes();
    const qint64 classicXref = lastStartxref(classic);
    {
        // Two subsections, and white space before the first entry.
        QByteArray pdf = classic;
        const qsizetype table = pdf.indexOf("xref\n0 6\n");
        const QByteArray entries = pdf.mid(table + 9, 120);
        pdf.replace(table, 9 + 120, "xref\n0 2  \n" + entries.left(40) + "2 4\n" + entries.mid(40));
        pdf.replace(pdf.lastIndexOf("startxref\n"), 30,
                    "startxref\n" + number(table) + "\n%%EOF\n");
        QTest::newRow("table in two subsections") << pdf << Reason::Counted << 3 << false;
    }
    {
        QByteArray pdf = classic;
        const qsizetype at = pdf.indexOf(entry(pdf.indexOf("2 0 obj")));
        pdf.replace(at, 10, number(pdf.indexOf("2 0 obj") + 4).rightJustified(10, '0'));
        QTest::newRow("entry offset a few bytes off") << pdf << Reason::DamagedObject << -1 << true;
        pdf = classic;
        pdf.replace(at, 10, number(pdf.size() + 100).rightJustified(10, '0'));
        QTest::newRow("entry offset past the end") << pdf << Reason::DamagedObject << -1 << true;
    }
    {
        ClassicPdf pdf = plainPdf(3);
        pdf.startxrefShift = 1 << 20;
        QTest::newRow("startxref past the end") << pdf.bytes() << Reason::DamagedXref << -1 << true;
    }
    {
        // The library moves a subsection "1 n" that starts with object 0's
        // free entry to 0.
        QByteArray pdf = classic;
        pdf.replace("xref\n0 6\n", "xref\n1 6\n");
        QTest::newRow("subsection off by one") << pdf << Reason::DamagedXref << -1 << true;
        pdf = classic;
        pdf.replace("xref\n0 6\n", "xref\n0 7\n");
        QTest::newRow("subsection longer than its entries")
            << pdf << Reason::DamagedXref << -1 << true;
        pdf = classic;
        pdf.replace("xref\n0 6\n", "xref\n0 -6\n");
        QTest::newRow("negative subsection count") << pdf << Reason::DamagedXref << -1 << true;
    }
    {
        // The page tree lies only in the older section.
        const QByteArray catalog = "<< /Type /Catalog /Pages 2 0 R /Lang (en) >>";
        QByteArray pdf = appendUpdate(classic, {{1, catalog}}, classicXref, 6);
        pdf.replace(pdf.lastIndexOf("/Prev ") + 6, 10,
                    number(pdf.size() * 2).rightJustified(10, '0'));
        QTest::newRow("/Prev past the end") << pdf << Reason::DamagedXref << -1 << true;
        pdf = appendUpdate(classic, {{1, catalog}}, classicXref, 6);
        pdf.replace(pdf.lastIndexOf("/Prev ") + 6, 10, "1 0 R     ");
        QTest::newRow("/Prev a reference") << pdf << Reason::DamagedXref << -1 << true;
        // A chain longer than the reader follows.
        pdf = classic;
        qint64 prev = classicXref;
        for (int i = 0; i < 70; ++i) {
            qint64 at = 0;
            pdf = appendUpdate(pdf, {{1, catalog}}, prev, 6, &at);
            prev = at;
        }
        QTest::newRow("seventy sections") << pdf << Reason::LimitExceeded << -1 << false;
    }
    {
        // An entry typed neither "n" nor "f" makes the library rebuild the
        // table from a scan of the file, where the last object 2 wins: here
        // one no section lists, with fewer pages.
        ClassicPdf base = plainPdf(4);
        base.objects << "<< /Producer (scanner) >>";
        QByteArray pdf = base.bytes() + "2 0 obj\n<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 "
                                        ">>\nendobj\n";
        pdf[pdf.lastIndexOf(" 00000 n \n") + 7] = 'x';
        QTest::newRow("entry neither in use nor free") << pdf << Reason::DamagedXref << -1 << true;
    }
    {
        StreamPdf hybrid{pageTree(3, "/Count 3"), {true, true, true, true, false}};
        hybrid.hybrid = true;
        QByteArray pdf = hybrid.bytes();
        const qsizetype at = pdf.lastIndexOf("/XRefStm ") + 9;
        pdf.replace(at, pdf.indexOf(' ', at) - at, number(lastStartxref(pdf)));
        QTest::newRow("/XRefStm back to its own table") << pdf << Reason::XrefLoop << -1 << false;
    }
    {
        const QByteArray stream = StreamPdf{pageTree(3, "/Count 3"), {}}.bytes();
        QTest::newRow("stream") << stream << Reason::Counted << 3 << false;
        QByteArray pdf = stream;
        pdf.replace("/W [1 4 2]", "/W [1 4 9]");
        QTest::newRow("stream field wider than 8 bytes")
            << pdf << Reason::DamagedXref << -1 << false;
        pdf = stream;
        pdf.replace("/W [1 4 2]", "/W [1 4 3]");
        QTest::newRow("stream shorter than its entries")
            << pdf << Reason::DamagedXref << -1 << false;
        pdf = stream;
        pdf.replace("/W [1 4 2]", "/W [1 4]  ");
        QTest::newRow("stream with two widths") << pdf << Reason::DamagedXref << -1 << false;
        pdf = stream;
        pdf.replace("/Index [0 ", "/Index [0 1 ");
        QTest::newRow("stream /Index of odd length") << pdf << Reason::DamagedXref << -1 << false;
        pdf = stream;
        const qsizetype length = pdf.lastIndexOf("/Length ") + 8;
        pdf.replace(length, pdf.indexOf(' ', length) - length, "1 0 R");
        QTest::newRow("stream /Length a reference") << pdf << Reason::DamagedXref << -1 << true;
        pdf = stream;
        pdf.replace(pdf.lastIndexOf("/Length ") + 8, 1, "9");
        QTest::newRow("stream /Length wrong") << pdf << Reason::DamagedObject << -1 << true;
        // The first entry's type, 0, becomes 3.
        pdf = stream;
        pdf[pdf.lastIndexOf(">>\nstream\n") + 10] = 3;
        QTest::newRow("stream entry of unknown type") << pdf << Reason::DamagedXref << -1 << false;
    }
}

void TestPdfStructure::xrefSections()
{
    QFETCH(QByteArray, pdf);
    QFETCH(PdfStructureReason, reason);
    QFETCH(int, pages);
    QFETCH(bool, repaired);
    const QString path = write(QStringLiteral("xref.pdf"), pdf);
    const Examined examined = examine(path);
    QCOMPARE(examined.result.reason, reason);
    QCOMPARE(examined.result.pages.value_or(-1), pages);
    checkAgainstPoppler(path, examined);
    if (repaired)
        QVERIFY(popplerPages(path).has_value());
}

void TestPdfStructure::unreadableFile()
{
    // The head was read, the rest of the file cannot be.
    const QByteArray pdf = plainPdf(2).bytes();
    BlockReader reader(-1, pdf.size(), pdf.left(64));
    const PdfStructureResult result = examinePdfStructure(reader);
    QCOMPARE(result.reason, Reason::ReadFailed);
    QVERIFY(!result.pages);
}

void TestPdfStructure::qpdfRewrites_data()
{
    QTest::addColumn<int>("pages");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<PdfStructureReason>("reason");
    // Revision 6's check needs AES instructions; without them the library
    // checks.
#if defined(__x86_64__) || defined(__i386__)
    const bool aes = __builtin_cpu_supports("aes");
#else
    const bool aes = false;
#endif
    const Reason revision6 = aes ? Reason::Counted : Reason::Encrypted;
    const QStringList encrypt256{"--encrypt", "", "owner", "256", "--"};
    const QStringList encryptUser{"--encrypt", "user", "owner", "256", "--"};
    for (int pages : {1, 7, 2000}) {
        QTest::addRow("%d pages, rewritten", pages) << pages << QStringList() << Reason::Counted;
        QTest::addRow("%d pages, object streams", pages)
            << pages << QStringList{"--object-streams=generate"} << Reason::Counted;
        QTest::addRow("%d pages, linearized", pages)
            << pages << QStringList{"--linearize"} << Reason::Counted;
        QTest::addRow("%d pages, linearized with object streams", pages)
            << pages << QStringList{"--linearize", "--object-streams=generate"} << Reason::Counted;
        QTest::addRow("%d pages, QDF", pages) << pages << QStringList{"--qdf"} << Reason::Counted;
        QTest::addRow("%d pages, encrypted, empty user password", pages)
            << pages << encrypt256 << revision6;
        QTest::addRow("%d pages, encrypted with a user password", pages)
            << pages << encryptUser << Reason::Encrypted;
    }
    // Every password check of the standard handler, with the empty user
    // password and with another; the PDF library judges each as well.
    struct Method
    {
        const char *name;
        QStringList options;
        Reason opens = Reason::Counted;
    };
    const QList<Method> methods{
        {"RC4 40-bit", {"40", "--"}},
        {"RC4 128-bit", {"128", "--use-aes=n", "--"}},
        {"AES-128", {"128", "--use-aes=y", "--"}},
        {"AES-128, clear metadata", {"128", "--use-aes=y", "--cleartext-metadata", "--"}},
        {"AES-256 revision 5", {"256", "--force-R5", "--"}},
        {"AES-256, clear metadata", {"256", "--cleartext-metadata", "--"}, revision6},
    };
    for (const auto &[name, method, opens] : methods) {
        QTest::addRow("%s, empty user password", name)
            << 7 << QStringList{"--allow-weak-crypto", "--encrypt", "", "owner"} + method << opens;
        QTest::addRow("%s, user password", name)
            << 7 << QStringList{"--allow-weak-crypto", "--encrypt", "secret", "owner"} + method
            << Reason::Encrypted;
    }
    // The page tree inside an encrypted object stream.
    QTest::newRow("encrypted object streams")
        << 7 << QStringList{"--object-streams=generate"} + encrypt256 << Reason::Encrypted;
}

void TestPdfStructure::qpdfRewrites()
{
    if (m_qpdf.isEmpty())
        QSKIP("qpdf is not installed");
    QFETCH(int, pages);
    QFETCH(QStringList, options);
    QFETCH(PdfStructureReason, reason);

    const QString source = write(QStringLiteral("source.pdf"), plainPdf(pages).bytes());
    const QString path = m_dir.filePath(QStringLiteral("rewritten.pdf"));
    QVERIFY(qpdf(options + QStringList{source, path}));
    Examined examined = examine(path);
    QCOMPARE(examined.result.reason, reason);
    if (reason == Reason::Counted) {
        QCOMPARE(examined.result.pages, std::optional<qint32>(pages));
        // The head, the tail, and for the big ones a block in between.
        QVERIFY2(examined.readCalls <= 3, qPrintable(QString::number(examined.readCalls)));
    }
    checkAgainstPoppler(path, examined);

    if (reason != Reason::Counted)
        return;
    // An incremental update on top, its /Prev leading into qpdf's sections.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray rewritten = file.readAll();
    file.close();
    // A new object number: above every /Size (a linearized file has two).
    int next = 0;
    for (qsizetype at = 0; (at = rewritten.indexOf("/Size ", at)) >= 0; at += 6) {
        const QByteArray digits = rewritten.mid(at + 6, 12).split(' ').value(0).split('/').value(0);
        next = qMax(next, digits.toInt());
    }
    QVERIFY(next > pages);
    const qsizetype rootAt = rewritten.lastIndexOf("/Root ") + 6;
    const QByteArray root = rewritten.mid(rootAt, rewritten.indexOf('R', rootAt) + 1 - rootAt);
    const QByteArray updated = appendUpdate(rewritten, {{next, "<< /Title (updated) >>"}},
                                            lastStartxref(rewritten), next + 1, nullptr, root);
    const QString updatedPath = write(QStringLiteral("updated.pdf"), updated);
    examined = examine(updatedPath);
    QCOMPARE(examined.result.pages, std::optional<qint32>(pages));
    checkAgainstPoppler(updatedPath, examined);

    if (!options.contains(QStringLiteral("--linearize")))
        return;
    if (pages > 1) {
        // An update that drops pages: /L no longer gives the file's length,
        // so the library starts from the last section, not the first page's.
        const qsizetype first = rewritten.indexOf("/O ");
        QVERIFY(first > 0 && first < 1024);
        const QByteArray page =
            rewritten.mid(first + 3, 12).split(' ').value(0).split('/').value(0);
        const QRegularExpression treeRoot(QStringLiteral("/Pages (\\d+) 0 R"));
        const int tree = treeRoot.match(QString::fromLatin1(rewritten)).captured(1).toInt();
        QVERIFY(tree > 0);
        const QByteArray dropped = appendUpdate(
            rewritten, {{tree, "<< /Type /Pages /Kids [" + page + " 0 R] /Count 1 >>"}},
            lastStartxref(rewritten), next, nullptr, root);
        const QString droppedPath = write(QStringLiteral("dropped.pdf"), dropped);
        examined = examine(droppedPath);
        QCOMPARE(examined.result.pages, std::optional<qint32>(1));
        checkAgainstPoppler(droppedPath, examined);
    }
    // A linearized file whose /N disagrees with its page tree.
    QByteArray wrongN = rewritten;
    const qsizetype at = wrongN.indexOf("/N " + number(pages));
    QVERIFY(at > 0 && at < 1024);
    wrongN[at + 3] = wrongN[at + 3] == '9' ? '8' : char(wrongN[at + 3] + 1);
    const QString wrongPath = write(QStringLiteral("wrong-n.pdf"), wrongN);
    examined = examine(wrongPath);
    QCOMPARE(examined.result.reason, Reason::LinearizedMismatch);
}

void TestPdfStructure::corpusAgreement()
{
    const QDir root(QStringLiteral(TALLIVO_CORPUS_DIR));
    if (!root.exists(QStringLiteral("pdf")))
        QSKIP("the shared corpus is not available here");
    int answered = 0;
    int aside = 0;
    QStringList different;
    for (const QString &folder : {QStringLiteral("pdf"), QStringLiteral("odd")}) {
        const QDir dir(root.filePath(folder));
        for (const QString &name : dir.entryList(QDir::Files)) {
            const QString path = dir.filePath(name);
            const Examined examined = examine(path);
            if (!examined.result.pages) {
                ++aside;
                continue;
            }
            ++answered;
            if (popplerPages(path) != std::optional<int>(*examined.result.pages))
                different << name;
        }
    }
    qInfo("corpus: %d answered, %d stepped aside, %d different", answered, aside,
          int(different.size()));
    QVERIFY2(different.isEmpty(), qPrintable(different.join(QLatin1Char(' '))));
    QVERIFY(answered > 50);
}

QTEST_GUILESS_MAIN(TestPdfStructure)
#include "tst_pdfstructure.moc"
