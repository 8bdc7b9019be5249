// The list kept between sessions: any bytes give a whole list or none, and
// a list read back is written again as the same bytes. The input is read
// as it is, and again with its checksum made to fit, so that changed bytes
// reach the checks of every field.

#include "fileitem.h"
#include "listsnapshot.h"

#include <cstdint>
#include <cstdlib>

using namespace tallivo;

namespace {

void check(const QByteArray &bytes)
{
    std::vector<std::unique_ptr<FileItem>> files;
    QList<QByteArray> added;
    double tolerance = 0;
    if (!listsnapshot::decode(bytes, &files, nullptr, &added, &tolerance)) {
        if (!files.empty())
            std::abort();
        return;
    }
    std::vector<const FileItem *> list;
    for (const auto &file : files) {
        if (file->nameBytes().isEmpty() || file->nameBytes().contains('/') || file->pages() < 0)
            std::abort();
        list.push_back(file.get());
    }
    const QByteArray written = listsnapshot::encode(list, added, tolerance);
    if (written == bytes)
        return;
    // A list of an earlier version is written as the current one, which
    // must then read back as itself; one of this version is written as it was.
    if (quint8(bytes.at(8)) >= 3)
        std::abort();
    std::vector<std::unique_ptr<FileItem>> again;
    QList<QByteArray> addedAgain;
    double toleranceAgain = 0;
    if (!listsnapshot::decode(written, &again, nullptr, &addedAgain, &toleranceAgain) ||
        addedAgain != added || toleranceAgain != tolerance || again.size() != files.size())
        std::abort();
    list.clear();
    for (const auto &file : again)
        list.push_back(file.get());
    if (listsnapshot::encode(list, addedAgain, toleranceAgain) != written)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 1024 * 1024)
        return 0;
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    check(bytes);
    listsnapshot::reseal(&bytes);
    check(bytes);
    return 0;
}
