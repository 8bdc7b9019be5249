// SHA-2 as the password hash of AES-256 encryption uses it, against Qt's.

#include "pdfsha2.h"

#include <QCryptographicHash>
#include <QTest>

using namespace tallivo;

class TestPdfSha2 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void sameAsQt_data();
    void sameAsQt();
};

void TestPdfSha2::sameAsQt_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("extensions");
    // Around the padding's edges for both block sizes (a length field of 8
    // and of 16 bytes), and the sizes the password hash feeds in.
    for (int size : {0, 1, 55, 56, 63, 64, 65, 111, 112, 127, 128, 129, 2048, 3072, 4096, 4099}) {
        for (bool extensions : {true, false})
            QTest::addRow("%d bytes%s", size, extensions ? "" : ", plain") << size << extensions;
    }
}

void TestPdfSha2::sameAsQt()
{
    QFETCH(int, size);
    QFETCH(bool, extensions);
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char(i * 131 + size);
    testing::useShaExtensions(extensions);
    const std::pair<Sha2, QCryptographicHash::Algorithm> kinds[] = {
        {Sha2::Sha256, QCryptographicHash::Sha256},
        {Sha2::Sha384, QCryptographicHash::Sha384},
        {Sha2::Sha512, QCryptographicHash::Sha512}};
    for (const auto &[kind, qt] : kinds) {
        uchar out[64];
        const int length =
            sha2(kind, reinterpret_cast<const uchar *>(data.constData()), size_t(size), out);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(out), length),
                 QCryptographicHash::hash(data, qt));
    }
    testing::useShaExtensions(true);
}

QTEST_GUILESS_MAIN(TestPdfSha2)
#include "tst_pdfsha2.moc"
