#pragma once

#include "httprequest.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringConverter>
#include <QVariant>

#include <memory>
#include <variant>

namespace tallivo {

// An HTML-form style request: named text values and files, sent URL-encoded
// when there are only values and as multipart as soon as a file is attached.
class FormDataRequest : public HttpRequest
{
    Q_OBJECT

public:
    enum PostFormat
    {
        MultipartFormDataPostFormat = 0,
        URLEncodedPostFormat = 1
    };

    struct PostValue
    {
        QString key;
        QString value;
    };
    struct FileEntry
    {
        QString key;
        QString fileName;
        QString contentType;
        // A path to stream from, or the bytes themselves.
        std::variant<QString, QByteArray> data;
    };

    explicit FormDataRequest(const QUrl &url, QObject *parent = nullptr);
    static std::unique_ptr<FormDataRequest> requestWithURL(const QUrl &url);

    void addPostValue(const QVariant &value, const QString &key);
    void setPostValue(const QVariant &value, const QString &key);
    void addData(const QByteArray &data, const QString &fileName, const QString &contentType,
                 const QString &key);
    void addData(const QByteArray &data, const QString &key);
    void setData(const QByteArray &data, const QString &fileName, const QString &contentType,
                 const QString &key);
    void setData(const QByteArray &data, const QString &key);
    // A path that is missing or names a folder fails the request with code 6.
    void addFile(const QString &path, const QString &fileName, const QString &contentType,
                 const QString &key);
    void addFile(const QString &path, const QString &key);
    void setFile(const QString &path, const QString &fileName, const QString &contentType,
                 const QString &key);
    void setFile(const QString &path, const QString &key);

    const QList<PostValue> &postData() const { return m_postData; }
    const QList<FileEntry> &fileData() const { return m_fileData; }
    PostFormat postFormat() const { return m_postFormat; }
    void setPostFormat(PostFormat format) { m_postFormat = format; }
    QStringConverter::Encoding stringEncoding() const { return m_encoding; }
    void setStringEncoding(QStringConverter::Encoding encoding) { m_encoding = encoding; }
    QByteArray encodingName() const;

    // Built once; later calls do nothing.
    void buildPostBody() override;
    void buildURLEncodedPostBody();
    void buildMultipartFormDataPostBody();
    void appendPostString(const QString &text);
    // Only ASCII letters, digits, "-", "." and "_" stay; "" when the text
    // cannot be encoded.
    QString encodeURL(const QString &text) const;

    std::unique_ptr<FormDataRequest> copy() const;

    // The file's MIME type by its extension, "application/octet-stream" when unknown.
    static QString mimeTypeForPath(const QString &path);

private:
    QList<PostValue> m_postData;
    QList<FileEntry> m_fileData;
    bool m_hasPostData = false;
    bool m_hasFileData = false;
    PostFormat m_postFormat = URLEncodedPostFormat;
    QStringConverter::Encoding m_encoding = QStringConverter::Utf8;
};

} // namespace tallivo
