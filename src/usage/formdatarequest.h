#pragma once

#include "httprequest.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringConverter>
#include <QVariant>

#include <variant>

namespace tallivo {

// An HTML-form style POST: named text values and files, sent URL-encoded when
// there are only values and as multipart as soon as a file is attached.
// Entries keep their order and a key may repeat.
class FormDataRequest final : public HttpRequest
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FormDataRequest)

public:
    enum class PostFormat
    {
        Multipart,
        UrlEncoded
    };

    struct Value
    {
        QString key;
        QString value;
    };
    struct File
    {
        QString key;
        QString fileName;
        QString contentType;
        // A path to stream from, or the bytes themselves.
        std::variant<QString, QByteArray> data;
    };

    explicit FormDataRequest(const QUrl &url, QObject *parent = nullptr);

    // A null key adds nothing.
    void addValue(const QString &key, const QVariant &value);
    // Replaces every value of the key.
    void setValue(const QString &key, const QVariant &value);
    // An empty content type is "application/octet-stream".
    void addData(const QString &key, const QByteArray &data,
                 const QString &fileName = QStringLiteral("file"),
                 const QString &contentType = QString());
    void setData(const QString &key, const QByteArray &data,
                 const QString &fileName = QStringLiteral("file"),
                 const QString &contentType = QString());
    // A path that is not a regular file fails the request. The file name
    // defaults to the path's last part, the content type to the one of its
    // extension.
    void addFile(const QString &key, const QString &path, const QString &fileName = QString(),
                 const QString &contentType = QString());
    void setFile(const QString &key, const QString &path, const QString &fileName = QString(),
                 const QString &contentType = QString());

    const QList<Value> &values() const { return m_values; }
    const QList<File> &files() const { return m_files; }
    PostFormat postFormat() const { return m_postFormat; }
    void setPostFormat(PostFormat format) { m_postFormat = format; }
    QStringConverter::Encoding stringEncoding() const { return m_encoding; }
    void setStringEncoding(QStringConverter::Encoding encoding) { m_encoding = encoding; }

    void buildBody() override;

    // Only ASCII letters, digits, "-", "." and "_" stay; every other
    // character is "%XX" per byte in stringEncoding(), and the whole text ""
    // when a character cannot be encoded.
    QString percentEncoded(const QString &text) const;

    // The file's MIME type by its extension, "application/octet-stream" when unknown.
    static QString mimeTypeForPath(const QString &path);

private:
    void buildUrlEncodedBody();
    void buildMultipartBody();
    void appendText(const QString &text);
    // Appends a regular file's content; false, with the error set, otherwise.
    bool appendFile(const QString &path);
    QByteArray charsetName() const;

    QList<Value> m_values;
    QList<File> m_files;
    PostFormat m_postFormat = PostFormat::UrlEncoded;
    QStringConverter::Encoding m_encoding = QStringConverter::Utf8;
    QByteArray m_data; // the body being built
    bool m_built = false;
};

} // namespace tallivo
