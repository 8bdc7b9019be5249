#include "formdatarequest.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QStringEncoder>
#include <QUuid>

#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tallivo {

namespace {

const QString defaultContentType = QStringLiteral("application/octet-stream");

bool keptAsIs(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'-' || c == u'.' || c == u'_';
}

} // namespace

FormDataRequest::FormDataRequest(const QUrl &url, QObject *parent)
    : HttpRequest(url, parent)
{
}

QString FormDataRequest::mimeTypeForPath(const QString &path)
{
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    return type.isValid() && !type.isDefault() ? type.name() : defaultContentType;
}

void FormDataRequest::addValue(const QString &key, const QVariant &value)
{
    if (!key.isNull())
        m_values.append({key, value.toString()});
}

void FormDataRequest::setValue(const QString &key, const QVariant &value)
{
    m_values.removeIf([&](const Value &entry) { return entry.key == key; });
    addValue(key, value);
}

void FormDataRequest::addData(const QString &key, const QByteArray &data, const QString &fileName,
                              const QString &contentType)
{
    m_files.append({key, fileName, contentType.isEmpty() ? defaultContentType : contentType, data});
}

void FormDataRequest::setData(const QString &key, const QByteArray &data, const QString &fileName,
                              const QString &contentType)
{
    m_files.removeIf([&](const File &entry) { return entry.key == key; });
    addData(key, data, fileName, contentType);
}

void FormDataRequest::addFile(const QString &key, const QString &path, const QString &fileName,
                              const QString &contentType)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile()) {
        setError(Error::InvalidRequest, QStringLiteral("No file exists at %1").arg(path));
        return;
    }
    m_files.append({key, fileName.isEmpty() ? info.fileName() : fileName,
                    contentType.isEmpty() ? mimeTypeForPath(path) : contentType, path});
}

void FormDataRequest::setFile(const QString &key, const QString &path, const QString &fileName,
                              const QString &contentType)
{
    m_files.removeIf([&](const File &entry) { return entry.key == key; });
    addFile(key, path, fileName, contentType);
}

QByteArray FormDataRequest::charsetName() const
{
    return QByteArray(QStringConverter::nameForEncoding(m_encoding)).toLower();
}

void FormDataRequest::buildBody()
{
    if (std::exchange(m_built, true) || (m_values.isEmpty() && m_files.isEmpty()))
        return;
    m_data.clear();
    if (m_postFormat == PostFormat::UrlEncoded && m_files.isEmpty())
        buildUrlEncodedBody();
    else
        buildMultipartBody();
    setRawHeader(QByteArrayLiteral("Content-Length"), QByteArray::number(m_data.size()));
    setBody(std::exchange(m_data, {}));
}

void FormDataRequest::appendText(const QString &text)
{
    QStringEncoder encoder(m_encoding);
    m_data.append(encoder.encode(text));
}

bool FormDataRequest::appendFile(const QString &path)
{
    // Opened without blocking, so a FIFO put in the file's place cannot hang us.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat info;
    QFile file;
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        setError(Error::InvalidRequest, tr("Failed to read file at path %1").arg(path));
        return false;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        setError(Error::InvalidRequest, tr("Failed to read file at path %1").arg(path));
        return false;
    }
    m_data.append(data);
    return true;
}

QString FormDataRequest::percentEncoded(const QString &text) const
{
    QStringEncoder encoder(m_encoding);
    QString result;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (keptAsIs(c.unicode())) {
            result += c;
            continue;
        }
        // A surrogate pair is one character.
        const qsizetype length = c.isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QByteArray bytes = encoder.encode(QStringView(text).mid(i, length));
        if (encoder.hasError() || bytes.isEmpty())
            return QString();
        for (const char byte : bytes)
            result += QLatin1Char('%') +
                      QStringLiteral("%1").arg(uchar(byte), 2, 16, QLatin1Char('0')).toUpper();
        i += length - 1;
    }
    return result;
}

void FormDataRequest::buildUrlEncodedBody()
{
    setRawHeader(QByteArrayLiteral("Content-Type"),
                 "application/x-www-form-urlencoded; charset=" + charsetName());
    for (qsizetype i = 0; i < m_values.size(); ++i) {
        const Value &entry = m_values.at(i);
        appendText(QStringLiteral("%1=%2%3").arg(
            percentEncoded(entry.key), percentEncoded(entry.value),
            i + 1 < m_values.size() ? QStringLiteral("&") : QString()));
    }
}

void FormDataRequest::buildMultipartBody()
{
    m_postFormat = PostFormat::Multipart;
    const QString boundary = QStringLiteral("0xKhTmLbOuNdArY-%1")
                                 .arg(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    setRawHeader(QByteArrayLiteral("Content-Type"),
                 "multipart/form-data; charset=" + charsetName() +
                     "; boundary=" + boundary.toLatin1());
    const QString separator = QStringLiteral("\r\n--%1\r\n").arg(boundary);
    appendText(QStringLiteral("--%1\r\n").arg(boundary));

    for (qsizetype i = 0; i < m_values.size(); ++i) {
        const Value &entry = m_values.at(i);
        appendText(
            QStringLiteral("Content-Disposition: form-data; name=\"%1\"\r\n\r\n").arg(entry.key));
        appendText(entry.value);
        if (i + 1 < m_values.size() || !m_files.isEmpty())
            appendText(separator);
    }
    for (qsizetype i = 0; i < m_files.size(); ++i) {
        const File &entry = m_files.at(i);
        appendText(
            QStringLiteral("Content-Disposition: form-data; name=\"%1\"; filename=\"%2\"\r\n")
                .arg(entry.key, entry.fileName));
        appendText(QStringLiteral("Content-Type: %1\r\n\r\n").arg(entry.contentType));
        if (const QString *path = std::get_if<QString>(&entry.data))
            appendFile(*path);
        else
            m_data.append(std::get<QByteArray>(entry.data));
        if (i + 1 < m_files.size())
            appendText(separator);
    }
    appendText(QStringLiteral("\r\n--%1--\r\n").arg(boundary));
}

} // namespace tallivo
