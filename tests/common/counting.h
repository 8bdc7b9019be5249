#pragma once

#include "localpath.h"
#include "pagecount.h"

#include <QByteArray>
#include <QUrl>

namespace tallivo::test {

// The pages of a file as a run counts them.
inline qint32 pageCount(const QByteArray &path)
{
    return measureFile(path).count.pages;
}
// The same for a URL; 0 for anything but a local file.
inline qint32 pageCount(const QUrl &url)
{
    return url.isLocalFile() ? pageCount(localPath(url)) : 0;
}

} // namespace tallivo::test
