#include "formdatarequest.h"
#include "networkqueue.h"
#include "testhttpserver.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace tallivo;

namespace {

// The boundary the request announced in its Content-Type.
QByteArray boundaryOf(const FormDataRequest &request)
{
    const QByteArray type = request.requestHeader("Content-Type");
    const qsizetype at = type.indexOf("boundary=");
    return at < 0 ? QByteArray() : type.mid(at + 9);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestFormDataRequest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void urlEncodedBody();
    void encodeURL_data();
    void encodeURL();
    void multipartWithValueAndFile();
    void multipartOnlyValues();
    void fileIsStreamedAsItWasWhenBuilt();
    void setPostValueReplaces();
    void emptyFormHasNoBody();
    void missingFileFails_data();
    void missingFileFails();
    void copyKeepsEntries();
};

void TestFormDataRequest::urlEncodedBody()
{
    FormDataRequest request(QUrl(QStringLiteral("http://127.0.0.1/")));
    request.setRequestMethod("GET");
    request.addPostValue(1, QStringLiteral("a"));
    request.addPostValue(QStringLiteral("x y&z"), QStringLiteral("b"));
    request.addPostValue(QStringLiteral("ignored"), QString());
    request.buildPostBody();
    QCOMPARE(request.postBody(), QByteArray("a=1&b=x%20y%26z"));
    QCOMPARE(request.requestHeader("Content-Type"),
             QByteArray("application/x-www-form-urlencoded; charset=utf-8"));
    QCOMPARE(request.requestHeader("Content-Length"), QByteArray("15"));
    QCOMPARE(request.requestMethod(), QByteArray("POST"));
    // Built once: later entries change nothing.
    request.addPostValue(2, QStringLiteral("c"));
    request.buildPostBody();
    QCOMPARE(request.postBody(), QByteArray("a=1&b=x%20y%26z"));
}

void TestFormDataRequest::encodeURL_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QString>("escaped");
    const int utf8 = QStringConverter::Utf8;
    const int latin1 = QStringConverter::Latin1;
    QTest::newRow("kept") << QStringLiteral("AZaz09-._") << utf8 << QStringLiteral("AZaz09-._");
    QTest::newRow("the thirty")
        << QStringLiteral(":/?#[]@!$ &'()*+,;=\"<>%{}|\\^~`") << utf8
        << QStringLiteral("%3A%2F%3F%23%5B%5D%40%21%24%20%26%27%28%29%2A%2B%2C%3B%3D%22%3C%3E%25"
                          "%7B%7D%7C%5C%5E%7E%60");
    QTest::newRow("control") << QStringLiteral("\n\t") << utf8 << QStringLiteral("%0A%09");
    QTest::newRow("e acute") << QStringLiteral("é") << utf8 << QStringLiteral("%C3%A9");
    QTest::newRow("outside the BMP")
        << QStringLiteral("\U0001F600") << utf8 << QStringLiteral("%F0%9F%98%80");
    QTest::newRow("latin-1") << QStringLiteral("é") << latin1 << QStringLiteral("%E9");
    QTest::newRow("not in latin-1") << QStringLiteral("a€") << latin1 << QString();
}

void TestFormDataRequest::encodeURL()
{
    QFETCH(QString, text);
    QFETCH(int, encoding);
    QFETCH(QString, escaped);
    FormDataRequest request(QUrl(QStringLiteral("http://127.0.0.1/")));
    request.setStringEncoding(QStringConverter::Encoding(encoding));
    QCOMPARE(request.encodeURL(text), escaped);
}

void TestFormDataRequest::multipartWithValueAndFile()
{
    FormDataRequest request(QUrl(QStringLiteral("http://127.0.0.1/")));
    request.addPostValue(QStringLiteral("v"), QStringLiteral("k"));
    request.addData(QByteArray("\x00\x01", 2), QStringLiteral("f.bin"), QString(),
                    QStringLiteral("data"));
    request.buildPostBody();
    const QByteArray boundary = boundaryOf(request);
    QVERIFY2(QRegularExpression(QStringLiteral("^0xKhTmLbOuNdArY-[0-9A-F]{8}(-[0-9A-F]{4}){3}-"
                                               "[0-9A-F]{12}$"))
                 .match(QString::fromLatin1(boundary))
                 .hasMatch(),
             boundary.constData());
    QCOMPARE(request.requestHeader("Content-Type"),
             "multipart/form-data; charset=utf-8; boundary=" + boundary);
    const QByteArray expected =
        "--" + boundary + "\r\nContent-Disposition: form-data; name=\"k\"\r\n\r\nv" + "\r\n--" +
        boundary + "\r\n" +
        "Content-Disposition: form-data; name=\"data\"; filename=\"f.bin\"\r\n" +
        "Content-Type: application/octet-stream\r\n\r\n" + QByteArray("\x00\x01", 2) + "\r\n--" +
        boundary + "--\r\n";
    QCOMPARE(request.postBody(), expected);
    QCOMPARE(request.requestHeader("Content-Length"), QByteArray::number(expected.size()));

    // Every body gets a boundary of its own.
    FormDataRequest other(QUrl(QStringLiteral("http://127.0.0.1/")));
    other.addData(QByteArray("x"), QStringLiteral("data"));
    other.buildPostBody();
    QVERIFY(boundaryOf(other) != boundary);
}

void TestFormDataRequest::multipartOnlyValues()
{
    FormDataRequest request(QUrl(QStringLiteral("http://127.0.0.1/")));
    request.setPostFormat(FormDataRequest::MultipartFormDataPostFormat);
    request.addPostValue(QStringLiteral("1"), QStringLiteral("a"));
    request.addPostValue(QStringLiteral("2"), QStringLiteral("b"));
    request.buildPostBody();
    const QByteArray b = boundaryOf(request);
    QCOMPARE(request.postBody(),
             "--" + b + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--" + b +
                 "\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\n2\r\n--" + b + "--\r\n");
}

void TestFormDataRequest::fileIsStreamedAsItWasWhenBuilt()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sample.zzqx"));
    QByteArray content;
    for (int i = 0; i < 200000; ++i)
        content.append(char(i * 7));
    QVERIFY(writeFile(path, content));
    FormDataRequest request(QUrl(QStringLiteral("http://127.0.0.1/")));
    request.addFile(path, QStringLiteral("upload"));
    QVERIFY(request.error().isNull());
    request.buildPostBody();
    QVERIFY(writeFile(path, "changed later"));
    const QByteArray b = boundaryOf(request);
    QCOMPARE(request.postBody(),
             "--" + b +
                 "\r\nContent-Disposition: form-data; name=\"upload\"; filename=\"sample.zzqx\"\r\n"
                 "Content-Type: application/octet-stream\r\n\r\n" +
                 content + "\r\n--" + b + "--\r\n");
}

void TestFormDataRequest::setPostValueReplaces()
{
    FormDataRequest request(QUrl(QStringLiteral("http://127.0.0.1/")));
    request.addPostValue(QStringLiteral("1"), QStringLiteral("k"));
    request.addPostValue(QStringLiteral("x"), QStringLiteral("other"));
    request.addPostValue(QStringLiteral("2"), QStringLiteral("k"));
    request.setPostValue(QStringLiteral("3"), QStringLiteral("k"));
    request.buildPostBody();
    QCOMPARE(request.postBody(), QByteArray("other=x&k=3"));
}

void TestFormDataRequest::emptyFormHasNoBody()
{
    FormDataRequest request(QUrl(QStringLiteral("http://127.0.0.1/")));
    request.buildPostBody();
    QVERIFY(request.postBody().isEmpty());
    QVERIFY(request.requestHeader("Content-Length").isEmpty());
}

void TestFormDataRequest::missingFileFails_data()
{
    QTest::addColumn<bool>("folder");
    QTest::newRow("missing") << false;
    QTest::newRow("a folder") << true;
}

void TestFormDataRequest::missingFileFails()
{
    QFETCH(bool, folder);
    QTemporaryDir dir;
    const QString path = folder ? dir.path() : dir.filePath(QStringLiteral("gone.log"));
    TestHttpServer server;
    auto *request = new FormDataRequest(server.url(QStringLiteral("/")));
    request->addFile(path, QStringLiteral("file"));
    QCOMPARE(request->error().code, 6);
    QCOMPARE(request->error().domain, QString::fromLatin1(NetworkRequestErrorDomain));
    QCOMPARE(request->error().description, QStringLiteral("No file exists at %1").arg(path));
    QVERIFY(request->fileData().isEmpty());

    // Queued, it reaches the failure callback without being sent.
    NetworkQueue queue;
    int failed = 0;
    queue.setRequestDidFail([&](HttpRequest *) { ++failed; });
    queue.addOperation(request);
    queue.go();
    QTRY_COMPARE(failed, 1);
    QCOMPARE(server.connectionCount(), 0);
}

void TestFormDataRequest::copyKeepsEntries()
{
    FormDataRequest request(QUrl(QStringLiteral("http://127.0.0.1/")));
    request.addPostValue(QStringLiteral("1"), QStringLiteral("a"));
    request.setStringEncoding(QStringConverter::Latin1);
    request.setRequestMethod("PUT");
    const auto copy = request.copy();
    request.addPostValue(QStringLiteral("2"), QStringLiteral("b"));
    copy->buildPostBody();
    QCOMPARE(copy->postBody(), QByteArray("a=1"));
    QCOMPARE(copy->requestMethod(), QByteArray("PUT"));
    QCOMPARE(copy->requestHeader("Content-Type"),
             QByteArray("application/x-www-form-urlencoded; charset=iso-8859-1"));
}

QTEST_GUILESS_MAIN(TestFormDataRequest)
#include "tst_formdatarequest.moc"
