#include "formdatarequest.h"
#include "networkqueue.h"
#include "testhttpserver.h"
#include "usagetesting.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace tallivo;
using tallivo::test::writeFile;

namespace {

const QUrl anywhere(QStringLiteral("http://127.0.0.1/"));

// The boundary the request announced in its Content-Type.
QByteArray boundaryOf(const FormDataRequest &request)
{
    const QByteArray type = request.rawHeader("Content-Type");
    return type.mid(type.indexOf("boundary=") + 9);
}

} // namespace

class TestFormDataRequest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void urlEncodedBody()
    {
        FormDataRequest request(anywhere);
        request.addValue(QStringLiteral("a"), 1);
        request.addValue(QStringLiteral("b"), QStringLiteral("x y&z"));
        request.addValue(QString(), QStringLiteral("ignored"));
        request.addValue(QStringLiteral("k"), QStringLiteral("1"));
        request.addValue(QStringLiteral("k"), QStringLiteral("2"));
        request.setValue(QStringLiteral("k"), QStringLiteral("3")); // replaces both
        request.buildBody();
        QCOMPARE(request.body(), QByteArray("a=1&b=x%20y%26z&k=3"));
        QCOMPARE(request.rawHeader("Content-Type"),
                 QByteArray("application/x-www-form-urlencoded; charset=utf-8"));
        QCOMPARE(request.rawHeader("Content-Length"), QByteArray("19"));
        QCOMPARE(request.method(), QByteArray("POST"));
        // Built once: later entries change nothing.
        request.addValue(QStringLiteral("c"), 2);
        request.buildBody();
        QCOMPARE(request.body(), QByteArray("a=1&b=x%20y%26z&k=3"));
    }
    void percentEncoded_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QString>("escaped");
        const int utf8 = QStringConverter::Utf8;
        QTest::newRow("kept") << "AZaz09-._" << utf8 << "AZaz09-._";
        QTest::newRow("the thirty")
            << ":/?#[]@!$ &'()*+,;=\"<>%{}|\\^~`" << utf8
            << "%3A%2F%3F%23%5B%5D%40%21%24%20%26%27%28%29%2A%2B%2C%3B%3D%22%3C"
               "%3E%25%7B%7D%7C%5C%5E%7E%60";
        QTest::newRow("control") << "\n\t" << utf8 << "%0A%09";
        QTest::newRow("outside the BMP") << "é\U0001F600" << utf8 << "%C3%A9%F0%9F%98%80";
        QTest::newRow("latin-1") << "é" << int(QStringConverter::Latin1) << "%E9";
        QTest::newRow("not in latin-1") << "a€" << int(QStringConverter::Latin1) << QString();
    }
    void percentEncoded()
    {
        QFETCH(QString, text);
        QFETCH(int, encoding);
        QFETCH(QString, escaped);
        FormDataRequest request(anywhere);
        request.setStringEncoding(QStringConverter::Encoding(encoding));
        QCOMPARE(request.percentEncoded(text), escaped);
    }
    void multipartBody()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("sample.zzqx"));
        QByteArray content;
        for (int i = 0; i < 200000; ++i)
            content.append(char(i * 7));
        QVERIFY(writeFile(path, content));
        FormDataRequest request(anywhere);
        request.addValue(QStringLiteral("k"), QStringLiteral("v"));
        request.addData(QStringLiteral("data"), QByteArray("\x00\x01", 2), QStringLiteral("f.bin"));
        request.addFile(QStringLiteral("upload"), path);
        QCOMPARE(request.error(), HttpRequest::Error::NoError);
        request.buildBody();
        QVERIFY(writeFile(path, "changed later")); // the body holds the file as it was

        const QByteArray b = boundaryOf(request);
        QVERIFY2(QRegularExpression(QStringLiteral("^0xKhTmLbOuNdArY-[0-9A-F]{8}(-[0-9A-F]{4}){3}-"
                                                   "[0-9A-F]{12}$"))
                     .match(QString::fromLatin1(b))
                     .hasMatch(),
                 b.constData());
        const QByteArray expected =
            "--" + b + "\r\nContent-Disposition: form-data; name=\"k\"\r\n\r\nv\r\n--" + b +
            "\r\nContent-Disposition: form-data; name=\"data\"; filename=\"f.bin\"\r\n"
            "Content-Type: application/octet-stream\r\n\r\n" +
            QByteArray("\x00\x01", 2) + "\r\n--" + b +
            "\r\nContent-Disposition: form-data; name=\"upload\"; filename=\"sample.zzqx\"\r\n"
            "Content-Type: application/octet-stream\r\n\r\n" +
            content + "\r\n--" + b + "--\r\n";
        QCOMPARE(request.body(), expected);

        // Every body gets a boundary of its own.
        FormDataRequest other(anywhere);
        other.addData(QStringLiteral("data"), QByteArray("x"));
        other.buildBody();
        QVERIFY(boundaryOf(other) != b);
    }
    void missingFileFails_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing") << "missing";
        QTest::newRow("a folder") << "folder";
        QTest::newRow("a fifo") << "fifo";
    }
    void missingFileFails()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = kind == u"folder" ? dir.path() : dir.filePath(QStringLiteral("x.log"));
        if (kind == u"fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        TestHttpServer server;
        auto *request = new FormDataRequest(server.url(QStringLiteral("/")));
        request->addFile(QStringLiteral("file"), path);
        QCOMPARE(request->error(), HttpRequest::Error::InvalidRequest);
        QCOMPARE(request->errorString(), QStringLiteral("No file exists at %1").arg(path));

        // Queued, it fails from the event loop without being sent.
        NetworkQueue queue;
        int failed = 0;
        connect(&queue, &NetworkQueue::requestFailed, this, [&] { ++failed; });
        queue.enqueue(request);
        queue.start();
        QTRY_COMPARE(failed, 1);
        QCOMPARE(server.requests().size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestFormDataRequest)
#include "tst_formdatarequest.moc"
