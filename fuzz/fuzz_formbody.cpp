// Form bodies: whatever the keys, values and data, a URL-encoded body decodes
// back to its values, a multipart body is framed by its boundary and carries
// every entry in order, and Content-Length is the body's size.

#include "formdatarequest.h"

#include <QDebug>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cstdint>
#include <cstdlib>

using namespace tallivo;

namespace {

[[noreturn]] void fail(const char *what, const QByteArray &body)
{
    qWarning() << what << body.left(2000);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1 || size > 64 * 1024)
        return 0;
    // The first byte chooses the format and the encoding; the rest is a list
    // of key and value fields ended by NUL. A key starting with \x01 makes
    // its value a file's data.
    const std::uint8_t flags = data[0];
    const QList<QByteArray> fields =
        QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1)).split('\0');
    const auto encoding = flags & 2 ? QStringConverter::Latin1 : QStringConverter::Utf8;

    FormDataRequest request(QUrl(QStringLiteral("http://127.0.0.1/")));
    request.setPostFormat(flags & 1 ? FormDataRequest::PostFormat::UrlEncoded
                                    : FormDataRequest::PostFormat::Multipart);
    request.setStringEncoding(encoding);
    QList<QPair<QString, QString>> values;
    QList<QByteArray> blobs;
    for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
        const QByteArray &key = fields.at(i);
        if (key.startsWith('\x01')) {
            request.addData(QString::fromUtf8(key.mid(1)), fields.at(i + 1));
            blobs << fields.at(i + 1);
        } else {
            const QString value = QString::fromUtf8(fields.at(i + 1));
            request.addValue(QString::fromUtf8(key), value);
            values.append({QString::fromUtf8(key), value});
        }
    }
    request.buildBody();
    const QByteArray body = request.body();

    if (values.isEmpty() && blobs.isEmpty()) {
        if (!body.isEmpty() || !request.rawHeader("Content-Length").isEmpty())
            fail("an empty form has a body", body);
        return 0;
    }
    if (request.rawHeader("Content-Length") != QByteArray::number(body.size()))
        fail("Content-Length is not the body's size", body);

    if (request.postFormat() == FormDataRequest::PostFormat::UrlEncoded) {
        for (const char c : body) {
            if (!(QChar::isLetterOrNumber(uchar(c)) && uchar(c) < 128) && !strchr("-._%=&", c))
                fail("a raw character in a URL-encoded body", body);
        }
        const QList<QByteArray> pairs = body.split('&');
        if (pairs.size() != values.size())
            fail("not one pair per value", body);
        for (qsizetype i = 0; i < pairs.size(); ++i) {
            const qsizetype equals = pairs.at(i).indexOf('=');
            if (equals < 0)
                fail("a pair without '='", body);
            const QString texts[] = {values.at(i).first, values.at(i).second};
            const QByteArray parts[] = {pairs.at(i).left(equals), pairs.at(i).mid(equals + 1)};
            for (int j = 0; j < 2; ++j) {
                // Text the encoding cannot carry is sent as nothing.
                QStringEncoder encoder(encoding);
                const QByteArray encoded = encoder.encode(texts[j]);
                const QByteArray expected = encoder.hasError() ? QByteArray() : encoded;
                if (QByteArray::fromPercentEncoding(parts[j]) != expected)
                    fail("a value does not decode back", body);
            }
        }
        return 0;
    }

    const QByteArray type = request.rawHeader("Content-Type");
    const qsizetype at = type.indexOf("; boundary=");
    if (!type.startsWith("multipart/form-data; charset=") || at < 0)
        fail("no multipart Content-Type", type);
    const QByteArray boundary = type.mid(at + 11);
    if (!body.startsWith("--" + boundary + "\r\n") ||
        !body.endsWith("\r\n--" + boundary + "--\r\n"))
        fail("the body is not framed by its boundary", body);
    qsizetype from = 0;
    QStringEncoder encoder(encoding);
    QList<QByteArray> expected;
    for (const auto &value : std::as_const(values))
        expected << encoder.encode(value.second);
    expected << blobs;
    for (const QByteArray &part : std::as_const(expected)) {
        const qsizetype found = body.indexOf(part, from);
        if (found < 0)
            fail("an entry is missing or out of order", body);
        from = found + part.size();
    }
    return 0;
}
