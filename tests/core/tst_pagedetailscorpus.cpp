#include "blockreader.h"
#include "counting.h"
#include "localpath.h"
#include "pagecount.h"
#include "pdfpageboxes.h"
#include "tiffdirectories.h"

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <cmath>
#include <fcntl.h>
#include <unistd.h>

using namespace tallivo;

namespace {

QByteArray runTool(const QString &program, const QStringList &args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, args);
    if (!process.waitForStarted() || !process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return process.readAllStandardOutput();
}

std::vector<TiffDirectory> tiffdumpDirectories(const QByteArray &output)
{
    static const QRegularExpression entry(
        QStringLiteral(R"(^\S+ \((\d+)\) \S+ \(\d+\) \d+<([^ >]*))"));
    std::vector<TiffDirectory> dirs;
    quint64 seen = 0;
    for (const QByteArray &raw : output.split('\n')) {
        const QString line = QString::fromLatin1(raw);
        if (line.startsWith(QLatin1String("Directory "))) {
            dirs.emplace_back();
            seen = 0;
            continue;
        }
        const auto m = entry.match(line);
        if (dirs.empty() || !m.hasMatch() || m.captured(2).isEmpty())
            continue;
        TiffDirectory &d = dirs.back();
        const int tag = m.captured(1).toInt();
        const QString value = m.captured(2);
        const int bit = tag - 256;
        if (bit < 0 || bit > 63 || (seen & (quint64(1) << bit)))
            continue;
        seen |= quint64(1) << bit;
        const double real = value.toDouble();
        const int number = int(qMin<qulonglong>(value.toULongLong(), 0xffff));
        switch (tag) {
        case 256:
            d.width = value.toULongLong();
            break;
        case 257:
            d.length = value.toULongLong();
            break;
        case 258:
            d.bitsPerSample = number;
            break;
        case 262:
            d.photometric = number;
            break;
        case 274:
            d.orientation = number;
            break;
        case 277:
            d.samplesPerPixel = number;
            break;
        case 282:
            d.xResolution = std::isfinite(real) ? real : 0;
            break;
        case 283:
            d.yResolution = std::isfinite(real) ? real : 0;
            break;
        case 296:
            d.resolutionUnit = number;
            break;
        }
    }
    return dirs;
}

bool near(double a, double b)
{
    return std::abs(a - b) <= 1e-5 * std::max(std::abs(a), std::abs(b)) || (a != a && b != b);
}

// What differs between our fields and the tool's, after TIFF's defaults.
QStringList tiffDifferences(const TiffDirectory &ours, const TiffDirectory &tool)
{
    QStringList out;
    const auto field = [&out](const char *name, auto a, auto b) {
        out << QStringLiteral("%1 %2 vs %3").arg(QLatin1String(name)).arg(a).arg(b);
    };
    if (ours.width != tool.width || ours.length != tool.length)
        field("size", QStringLiteral("%1x%2").arg(ours.width).arg(ours.length),
              QStringLiteral("%1x%2").arg(tool.width).arg(tool.length));
    if (!near(ours.xResolution, tool.xResolution) || !near(ours.yResolution, tool.yResolution))
        field("resolution", QStringLiteral("%1,%2").arg(ours.xResolution).arg(ours.yResolution),
              QStringLiteral("%1,%2").arg(tool.xResolution).arg(tool.yResolution));
    // A unit matters only with a resolution.
    if (tool.xResolution != 0 && ours.resolutionUnit != tool.resolutionUnit &&
        !(ours.resolutionUnit == 0 && tool.resolutionUnit == 2))
        field("unit", ours.resolutionUnit, tool.resolutionUnit);
    if (qMax(ours.bitsPerSample, 1) != tool.bitsPerSample)
        field("bits", ours.bitsPerSample, tool.bitsPerSample);
    if (qMax(ours.samplesPerPixel, 1) != tool.samplesPerPixel)
        field("samples", ours.samplesPerPixel, tool.samplesPerPixel);
    if (ours.photometric != tool.photometric)
        field("photometric", ours.photometric, tool.photometric);
    if (tool.orientation && qMax(ours.orientation, 1) != tool.orientation)
        field("orientation", ours.orientation, tool.orientation);
    const PageInfo a = ours.page();
    const PageInfo b = tool.page();
    if (a.colour != b.colour)
        field("colour class", colourLabel(a.colour), colourLabel(b.colour));
    if (std::abs(a.widthMm - b.widthMm) > 0.05f || std::abs(a.heightMm - b.heightMm) > 0.05f)
        field("mm", QStringLiteral("%1x%2").arg(a.widthMm).arg(a.heightMm),
              QStringLiteral("%1x%2").arg(b.widthMm).arg(b.heightMm));
    return out;
}

std::vector<TiffDirectory> ourDirectories(const QString &path, qint32 *count)
{
    std::vector<TiffDirectory> dirs;
    *count = 0;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return dirs;
    BlockReader reader(fd, ::lseek(fd, 0, SEEK_END));
    if (const auto layout = tiffLayout(reader.viewUpTo(0, 16)))
        *count = walkTiffDirectories(reader, *layout, &dirs);
    ::close(fd);
    return dirs;
}

struct PdfBox
{
    double width = 0; // points, as displayed
    double height = 0;
};

// Each page's CropBox turned by its rotation, as pdfinfo -box prints them.
std::vector<PdfBox> pdfinfoBoxes(const QByteArray &output, int pages)
{
    static const QRegularExpression crop(
        QStringLiteral(R"(^Page\s+(\d+) CropBox:\s+(\S+)\s+(\S+)\s+(\S+)\s+(\S+))"));
    static const QRegularExpression rot(QStringLiteral(R"(^Page\s+(\d+) rot:\s+(-?\d+))"));
    std::vector<PdfBox> boxes(static_cast<size_t>(pages));
    std::vector<int> rotation(static_cast<size_t>(pages));
    for (const QByteArray &raw : output.split('\n')) {
        const QString line = QString::fromLatin1(raw);
        if (const auto m = crop.match(line); m.hasMatch()) {
            const int page = m.captured(1).toInt();
            if (page >= 1 && page <= pages) {
                boxes[size_t(page - 1)].width = m.captured(4).toDouble() - m.captured(2).toDouble();
                boxes[size_t(page - 1)].height =
                    m.captured(5).toDouble() - m.captured(3).toDouble();
            }
        } else if (const auto r = rot.match(line); r.hasMatch()) {
            const int page = r.captured(1).toInt();
            if (page >= 1 && page <= pages)
                rotation[size_t(page - 1)] = r.captured(2).toInt();
        }
    }
    for (size_t i = 0; i < boxes.size(); ++i)
        if (rotation[i] % 180 == 90 || rotation[i] % 180 == -90)
            std::swap(boxes[i].width, boxes[i].height);
    return boxes;
}

} // namespace

// Every page size and colour we read from the shared corpus against what
// poppler's pdfinfo and libtiff's tiffdump say.
class TestPageDetailsCorpus : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void detailsKeepTheCounts();
    void tiffEntriesMatchTiffdump();
    void pdfBoxesMatchPdfinfo();

private:
    QStringList files(const QStringList &folders) const;
    QString m_root;
};

void TestPageDetailsCorpus::initTestCase()
{
    m_root = QStringLiteral(TALLIVO_CORPUS_DIR);
    if (!QFile::exists(m_root + QStringLiteral("/truth.tsv")))
        QSKIP("the shared corpus is not available here");
}

QStringList TestPageDetailsCorpus::files(const QStringList &folders) const
{
    QStringList out;
    for (const QString &folder : folders) {
        QDirIterator it(m_root + QLatin1Char('/') + folder, QDir::Files);
        while (it.hasNext())
            out << it.next();
    }
    out.sort();
    return out;
}

void TestPageDetailsCorpus::detailsKeepTheCounts()
{
    QStringList wrong;
    for (const QString &path :
         files({QStringLiteral("tiff"), QStringLiteral("pdf"), QStringLiteral("odd")})) {
        const QUrl url = QUrl::fromLocalFile(path);
        std::vector<PageInfo> pages;
        const qint32 counted = test::pageCount(url);
        const PageCount plain = measureFile(localPath(url), EntryType::Unknown, nullptr).count;
        const PageCount detailed = measureFile(localPath(url), EntryType::Unknown, &pages).count;
        const qint32 off = plain.pages;
        const qint32 on = detailed.pages;
        if (off != counted || on != counted || pages.size() != size_t(on) ||
            plain.status != detailed.status)
            wrong << QStringLiteral("%1: %2/%3/%4 vs %5")
                         .arg(path)
                         .arg(off)
                         .arg(on)
                         .arg(pages.size())
                         .arg(counted);
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
}

void TestPageDetailsCorpus::tiffEntriesMatchTiffdump()
{
    // Raw fields, also of the directories libtiff itself gives up on.
    const QString tiffdump = QStandardPaths::findExecutable(QStringLiteral("tiffdump"));
    if (tiffdump.isEmpty())
        QSKIP("tiffdump (libtiff-tools) is not installed");
    QStringList unexpected;
    int compared = 0;
    for (const QString &path : files({QStringLiteral("tiff"), QStringLiteral("odd")})) {
        qint32 count = 0;
        std::vector<TiffDirectory> ours = ourDirectories(path, &count);
        if (count == 0)
            continue;
        const std::vector<TiffDirectory> theirs = tiffdumpDirectories(runTool(tiffdump, {path}));
        const QString relative = path.mid(m_root.size() + 1);
        for (size_t i = 0; i < ours.size() && i < theirs.size(); ++i) {
            ++compared;
            TiffDirectory raw = theirs[i];
            // Compared as printed: tiffdump shows no defaults.
            raw.bitsPerSample = qMax(raw.bitsPerSample, 1);
            raw.samplesPerPixel = qMax(raw.samplesPerPixel, 1);
            if (raw.resolutionUnit == 0)
                raw.resolutionUnit = 2;
            for (const QString &d : tiffDifferences(ours[i], raw))
                unexpected << QStringLiteral("%1 #%2: %3").arg(relative).arg(i).arg(d);
        }
    }
    QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join(QLatin1Char('\n'))));
    QVERIFY(compared > 150);
}

void TestPageDetailsCorpus::pdfBoxesMatchPdfinfo()
{
    const QString pdfinfo = QStandardPaths::findExecutable(QStringLiteral("pdfinfo"));
    if (pdfinfo.isEmpty())
        QSKIP("pdfinfo (poppler-utils) is not installed");
    QStringList unexpected;
    int compared = 0;
    for (const QString &path : files({QStringLiteral("pdf"), QStringLiteral("odd")})) {
        if (!path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
            continue;
        std::vector<PageInfo> ours;
        const qint32 count =
            measureFile(QFile::encodeName(path), EntryType::Unknown, &ours).count.pages;
        if (count == 0)
            continue;
        const std::vector<PdfBox> theirs = pdfinfoBoxes(
            runTool(pdfinfo, {QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                              QString::number(count), QStringLiteral("-box"), path}),
            count);
        const QString relative = path.mid(m_root.size() + 1);
        for (size_t i = 0; i < ours.size(); ++i) {
            ++compared;
            const double w = theirs[i].width * kMmPerPoint;
            const double h = theirs[i].height * kMmPerPoint;
            // pdfinfo prints boxes to a hundredth of a point.
            if (std::abs(ours[i].widthMm - w) <= 0.01 && std::abs(ours[i].heightMm - h) <= 0.01)
                continue;
            // The structural reader and the PDF library in its worker both
            // read boxes as pdfinfo does: no difference is expected.
            const QString what = QStringLiteral("page %1").arg(i + 1);
            unexpected << QStringLiteral("%1 %2: %3x%4 mm vs %5x%6 mm")
                              .arg(relative, what)
                              .arg(ours[i].widthMm)
                              .arg(ours[i].heightMm)
                              .arg(w)
                              .arg(h);
        }
    }
    QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join(QLatin1Char('\n'))));
    QVERIFY(compared > 1000);
}

QTEST_GUILESS_MAIN(TestPageDetailsCorpus)
#include "tst_pagedetailscorpus.moc"
