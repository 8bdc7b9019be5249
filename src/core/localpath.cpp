#include "localpath.h"

#include <cerrno>
#include <unistd.h>

namespace tallivo {

QByteArray tidyPath(QByteArrayView path)
{
    QByteArray out;
    out.reserve(path.size());
    const bool absolute = path.startsWith('/');
    qsizetype start = 0;
    while (start <= path.size()) {
        qsizetype end = path.indexOf('/', start);
        if (end < 0)
            end = path.size();
        const QByteArrayView part = path.sliced(start, end - start);
        start = end + 1;
        if (part.isEmpty() || part == ".")
            continue;
        if (absolute || !out.isEmpty())
            out += '/';
        out += part;
    }
    if (out.isEmpty())
        return absolute ? QByteArray("/") : QByteArray(".");
    return out;
}

QByteArray absolutePath(QByteArrayView path, QByteArrayView folder)
{
    if (path.startsWith('/'))
        return tidyPath(path);
    QByteArray full;
    full.reserve(folder.size() + 1 + path.size());
    full += folder;
    full += '/';
    full += path;
    return tidyPath(full);
}

QByteArray currentFolder()
{
    QByteArray cwd(4096, '\0');
    while (!::getcwd(cwd.data(), size_t(cwd.size()))) {
        if (errno != ERANGE)
            return "/";
        cwd.resize(cwd.size() * 2);
    }
    return QByteArray(cwd.constData());
}

QByteArray fileNameOf(const QByteArray &path)
{
    qsizetype end = path.size();
    while (end > 1 && path.at(end - 1) == '/')
        --end;
    const qsizetype slash = path.lastIndexOf('/', end - 1);
    return path.mid(slash + 1, end - slash - 1);
}

QByteArray folderOf(const QByteArray &path)
{
    qsizetype end = path.size();
    while (end > 1 && path.at(end - 1) == '/')
        --end;
    const qsizetype slash = path.lastIndexOf('/', end - 1);
    if (slash < 0)
        return {};
    return slash == 0 ? QByteArray("/") : path.left(slash);
}

QByteArray childPath(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

// Within the name: the tests every walked file meets allocate nothing.
QByteArrayView extensionIn(QByteArrayView path)
{
    const qsizetype slash = path.lastIndexOf('/');
    const qsizetype dot = path.lastIndexOf('.');
    if (dot <= slash + 1)
        return {};
    return path.sliced(dot + 1);
}

namespace {

bool equalsIgnoringCase(QByteArrayView text, QByteArrayView lower)
{
    if (text.size() != lower.size())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != lower[i])
            return false;
    }
    return true;
}

} // namespace

QByteArray extensionOf(QByteArrayView path)
{
    return extensionIn(path).toByteArray();
}

bool isCountableName(QByteArrayView path)
{
    const QByteArrayView extension = extensionIn(path);
    return equalsIgnoringCase(extension, "tif") || equalsIgnoringCase(extension, "tiff") ||
           equalsIgnoringCase(extension, "pdf");
}

bool hasPdfExtension(QByteArrayView path)
{
    return equalsIgnoringCase(extensionIn(path), "pdf");
}

QUrl urlFromLocalPath(const QByteArray &path)
{
    QUrl url;
    url.setScheme(QStringLiteral("file"));
    url.setPath(QString::fromLatin1(path.toPercentEncoding("/")), QUrl::TolerantMode);
    return url;
}

QByteArray localPath(const QUrl &url)
{
    if (!url.isLocalFile())
        return {};
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
}

namespace {

// Length of the valid UTF-8 sequence at p, or 0.
qsizetype utf8SequenceLength(const uchar *p, qsizetype left)
{
    const uchar c = p[0];
    qsizetype n;
    char32_t min;
    char32_t cp;
    if (c < 0x80)
        return 1;
    if ((c & 0xe0) == 0xc0) {
        n = 2, min = 0x80, cp = c & 0x1f;
    } else if ((c & 0xf0) == 0xe0) {
        n = 3, min = 0x800, cp = c & 0x0f;
    } else if ((c & 0xf8) == 0xf0) {
        n = 4, min = 0x10000, cp = c & 0x07;
    } else {
        return 0;
    }
    if (left < n)
        return 0;
    for (qsizetype i = 1; i < n; ++i) {
        if ((p[i] & 0xc0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[i] & 0x3f);
    }
    if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
        return 0;
    return n;
}

} // namespace

QString displayPath(const QByteArray &path)
{
    const auto *p = reinterpret_cast<const uchar *>(path.constData());
    const qsizetype size = path.size();
    QString text;
    text.reserve(size);
    qsizetype runStart = 0;
    qsizetype i = 0;
    while (i < size) {
        const qsizetype n = utf8SequenceLength(p + i, size - i);
        if (n > 0) {
            i += n;
            continue;
        }
        text += QString::fromUtf8(path.constData() + runStart, i - runStart);
        text += QLatin1Char(path.at(i));
        runStart = ++i;
    }
    text += QString::fromUtf8(path.constData() + runStart, size - runStart);
    return text;
}

namespace {

bool isControl(uchar c)
{
    return c < 0x20 || c == 0x7f;
}

void appendHex(QByteArray &out, uchar c)
{
    static const char digits[] = "0123456789ABCDEF";
    out += "\\x";
    out += digits[c >> 4];
    out += digits[c & 15];
}

} // namespace

QByteArray escapedForRow(const QByteArray &bytes, RowTarget target)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    const qsizetype size = bytes.size();
    bool plain = true;
    for (qsizetype i = 0; i < size && plain;) {
        if (isControl(p[i]))
            plain = false;
        if (target == RowTarget::Terminal && p[i] >= 0x80) {
            const qsizetype n = utf8SequenceLength(p + i, size - i);
            // C1 controls are U+0080..U+009F: 0xC2 0x80..0x9F.
            if (n == 0 || (n == 2 && p[i] == 0xc2 && p[i + 1] < 0xa0))
                plain = false;
            i += qMax<qsizetype>(n, 1);
            continue;
        }
        ++i;
    }
    if (plain)
        return bytes;
    QByteArray out;
    out.reserve(size + 8);
    for (qsizetype i = 0; i < size;) {
        const uchar c = p[i];
        if (target == RowTarget::Terminal && c >= 0x80) {
            const qsizetype n = utf8SequenceLength(p + i, size - i);
            if (n == 0 || (n == 2 && c == 0xc2 && p[i + 1] < 0xa0)) {
                for (qsizetype k = 0; k < qMax<qsizetype>(n, 1); ++k)
                    appendHex(out, p[i + k]);
            } else {
                out.append(bytes.constData() + i, n);
            }
            i += qMax<qsizetype>(n, 1);
            continue;
        }
        if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\\')
            out += "\\\\";
        else if (isControl(c))
            appendHex(out, c);
        else
            out += char(c);
        ++i;
    }
    return out;
}

} // namespace tallivo
