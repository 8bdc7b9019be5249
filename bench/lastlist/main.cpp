// Times the list kept between sessions: encoding it, writing it whole,
// reading and decoding it, and handing it to the table, for a long list.
//
//   bench_lastlist [rows]     (default 100000)
//
// The files need not exist: the items are made with known measurements, a
// hundred files a folder, each with a page summary of two rows.

#include "fileitem.h"
#include "filetablemodel.h"
#include "listsnapshot.h"
#include "savefile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

using namespace tallivo;

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int rows = argc > 1 ? atoi(argv[1]) : 100000;
    std::vector<std::unique_ptr<FileItem>> items;
    items.reserve(size_t(rows));
    Folder folder;
    for (int i = 0; i < rows; ++i) {
        if (i % 100 == 0)
            folder = makeFolder("/srv/share/customer/Box " + QByteArray::number(i / 100));
        FileRecord record;
        record.folder = folder;
        record.name = "scan_" + QByteArray::number(i) + (i % 3 ? ".tif" : ".pdf");
        record.size = 100000 + i;
        record.modified = 1'700'000'000'000 + i;
        record.created = record.modified;
        record.accessed = record.modified;
        record.pages = 1 + i % 40;
        auto item = std::make_unique<FileItem>(std::move(record));
        std::vector<PageInfo> pages(size_t(1 + i % 40),
                                    PageInfo{210, 297, ColourClass::BlackWhite});
        pages.front() = PageInfo{297, 420, ColourClass::Colour};
        item->setPageSummary(PageSummary::fromPages(pages, qint32(pages.size())));
        items.push_back(std::move(item));
    }
    std::vector<const FileItem *> list;
    for (const auto &item : items)
        list.push_back(item.get());

    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("LastList.bin")));
    QElapsedTimer timer;
    timer.start();
    const QByteArray bytes = listsnapshot::encode(list);
    const qint64 encodeMs = timer.restart();
    if (!saveFile(path, bytes))
        return 1;
    const qint64 writeMs = timer.restart();
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray read = file.readAll();
    const qint64 readMs = timer.restart();
    std::vector<std::unique_ptr<FileItem>> back;
    if (!listsnapshot::decode(read, &back))
        return 1;
    const qint64 decodeMs = timer.restart();
    // Handed over as the window does, 20,000 files a turn of the event loop.
    FileTableModel model;
    qint64 longestStepMs = 0;
    QElapsedTimer step;
    for (size_t from = 0; from < back.size(); from += 20000) {
        step.start();
        std::vector<std::unique_ptr<FileItem>> block;
        for (size_t i = from; i < std::min(back.size(), from + 20000); ++i)
            block.push_back(std::move(back[i]));
        model.appendFiles(std::move(block));
        longestStepMs = std::max(longestStepMs, step.elapsed());
    }
    const qint64 appendMs = timer.restart();
    std::printf("%d rows, %.1f MB: encode %lld ms, write %lld ms, read %lld ms, decode %lld ms, "
                "table %lld ms (longest step %lld ms)\n",
                rows, bytes.size() / 1e6, qint64(encodeMs), qint64(writeMs), qint64(readMs),
                qint64(decodeMs), qint64(appendMs), qint64(longestStepMs));
    return model.rowCount() == rows ? 0 : 1;
}
