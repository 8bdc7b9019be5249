#include "formdatarequest.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QStringEncoder>
#include <QUuid>

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
    setRequestMethod(QByteArrayLiteral("POST"));
}

std::unique_ptr<FormDataRequest> FormDataRequest::requestWithURL(const QUrl &url)
{
    return std::make_unique<FormDataRequest>(url);
}

QString FormDataRequest::mimeTypeForPath(const QString &path)
{
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    return type.isValid() && !type.isDefault() ? type.name() : defaultContentType;
}

void FormDataRequest::addPostValue(const QVariant &value, const QString &key)
{
    if (key.isNull())
        return;
    m_hasPostData = true;
    m_postData.append({key, value.toString()});
}

void FormDataRequest::setPostValue(const QVariant &value, const QString &key)
{
    m_postData.removeIf([&](const PostValue &entry) { return entry.key == key; });
    addPostValue(value, key);
}

void FormDataRequest::addData(const QByteArray &data, const QString &fileName,
                              const QString &contentType, const QString &key)
{
    m_hasFileData = true;
    m_fileData.append(
        {key, fileName, contentType.isEmpty() ? defaultContentType : contentType, data});
}

void FormDataRequest::addData(const QByteArray &data, const QString &key)
{
    addData(data, QStringLiteral("file"), QString(), key);
}

void FormDataRequest::setData(const QByteArray &data, const QString &fileName,
                              const QString &contentType, const QString &key)
{
    m_fileData.removeIf([&](const FileEntry &entry) { return entry.key == key; });
    addData(data, fileName, contentType, key);
}

void FormDataRequest::setData(const QByteArray &data, const QString &key)
{
    setData(data, QStringLiteral("file"), QString(), key);
}

void FormDataRequest::addFile(const QString &path, const QString &fileName,
                              const QString &contentType, const QString &key)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists() || info.isDir()) {
        failWithError(InternalErrorWhileBuildingRequestType,
                      QStringLiteral("No file exists at %1").arg(path));
        return;
    }
    m_hasFileData = true;
    m_fileData.append({key, fileName.isEmpty() ? info.fileName() : fileName,
                       contentType.isEmpty() ? mimeTypeForPath(path) : contentType, path});
}

void FormDataRequest::addFile(const QString &path, const QString &key)
{
    addFile(path, QString(), QString(), key);
}

void FormDataRequest::setFile(const QString &path, const QString &fileName,
                              const QString &contentType, const QString &key)
{
    m_fileData.removeIf([&](const FileEntry &entry) { return entry.key == key; });
    addFile(path, fileName, contentType, key);
}

void FormDataRequest::setFile(const QString &path, const QString &key)
{
    setFile(path, QString(), QString(), key);
}

QByteArray FormDataRequest::encodingName() const
{
    return QByteArray(QStringConverter::nameForEncoding(m_encoding)).toLower();
}

void FormDataRequest::buildPostBody()
{
    if (haveBuiltPostBody())
        return;
    if (!m_hasPostData && !m_hasFileData) {
        HttpRequest::buildPostBody();
        return;
    }
    clearPostBody();
    if (!m_fileData.isEmpty())
        setupPostBodyFile();
    if (m_postFormat == URLEncodedPostFormat)
        buildURLEncodedPostBody();
    else
        buildMultipartFormDataPostBody();
    finishPostBody();
}

void FormDataRequest::appendPostString(const QString &text)
{
    QStringEncoder encoder(m_encoding);
    appendPostData(encoder.encode(text));
}

QString FormDataRequest::encodeURL(const QString &text) const
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

void FormDataRequest::buildURLEncodedPostBody()
{
    if (!m_fileData.isEmpty()) {
        m_postFormat = MultipartFormDataPostFormat;
        buildMultipartFormDataPostBody();
        return;
    }
    addRequestHeader(QByteArrayLiteral("Content-Type"),
                     "application/x-www-form-urlencoded; charset=" + encodingName());
    for (qsizetype i = 0; i < m_postData.size(); ++i) {
        const PostValue &entry = m_postData.at(i);
        appendPostString(QStringLiteral("%1=%2%3").arg(
            encodeURL(entry.key), encodeURL(entry.value),
            i + 1 < m_postData.size() ? QStringLiteral("&") : QString()));
    }
}

void FormDataRequest::buildMultipartFormDataPostBody()
{
    const QString boundary = QStringLiteral("0xKhTmLbOuNdArY-%1")
                                 .arg(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    addRequestHeader(QByteArrayLiteral("Content-Type"),
                     "multipart/form-data; charset=" + encodingName() +
                         "; boundary=" + boundary.toLatin1());
    const QString separator = QStringLiteral("\r\n--%1\r\n").arg(boundary);
    appendPostString(QStringLiteral("--%1\r\n").arg(boundary));

    for (qsizetype i = 0; i < m_postData.size(); ++i) {
        const PostValue &entry = m_postData.at(i);
        appendPostString(
            QStringLiteral("Content-Disposition: form-data; name=\"%1\"\r\n\r\n").arg(entry.key));
        appendPostString(entry.value);
        if (i + 1 < m_postData.size() || !m_fileData.isEmpty())
            appendPostString(separator);
    }
    for (qsizetype i = 0; i < m_fileData.size(); ++i) {
        const FileEntry &entry = m_fileData.at(i);
        appendPostString(
            QStringLiteral("Content-Disposition: form-data; name=\"%1\"; filename=\"%2\"\r\n")
                .arg(entry.key, entry.fileName));
        appendPostString(QStringLiteral("Content-Type: %1\r\n\r\n").arg(entry.contentType));
        if (const QString *path = std::get_if<QString>(&entry.data))
            appendPostDataFromFile(*path);
        else
            appendPostData(std::get<QByteArray>(entry.data));
        if (i + 1 < m_fileData.size())
            appendPostString(separator);
    }
    appendPostString(QStringLiteral("\r\n--%1--\r\n").arg(boundary));
}

std::unique_ptr<FormDataRequest> FormDataRequest::copy() const
{
    auto other = std::make_unique<FormDataRequest>(url());
    other->m_postData = m_postData;
    other->m_fileData = m_fileData;
    other->m_hasPostData = m_hasPostData;
    other->m_hasFileData = m_hasFileData;
    other->m_postFormat = m_postFormat;
    other->m_encoding = m_encoding;
    other->setRequestMethod(requestMethod());
    return other;
}

} // namespace tallivo
