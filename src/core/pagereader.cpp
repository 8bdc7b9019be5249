#include "pagereader.h"

#include "blockreader.h"
#include "localpath.h"
#include "pdfpageboxes.h"
#include "tiffdirectories.h"

#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tallivo {
namespace {

// Never blocks on a FIFO or device that took the file's place.
int openRegularFile(const QByteArray &path, qint64 *size)
{
    struct stat st;
    if (::stat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    *size = st.st_size;
    return fd;
}

} // namespace

qint32 readPageDetails(const QUrl &url, std::vector<PageInfo> *pages)
{
    const QByteArray path = localPath(url);
    if (path.isEmpty())
        return 0;
    qint64 size = 0;
    const int fd = openRegularFile(path, &size);
    if (fd < 0)
        return 0;
    qint32 count = 0;
    {
        BlockReader reader(fd, size);
        if (const auto layout = tiffLayout(reader.viewUpTo(0, 16)))
            count = walkTiffPages(reader, *layout, pages);
    }
    ::close(fd);
    if (count != 0 || !path.toLower().endsWith(".pdf"))
        return count;
    return readPdfPageBoxes(path, pages);
}

} // namespace tallivo
