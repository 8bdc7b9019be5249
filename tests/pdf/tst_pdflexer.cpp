// The structural PDF reader's lower layers on their own: the lexer, the
// parser of values and the stream filters.

#include "blockreader.h"
#include "pdffilters.h"
#include "pdflexer.h"
#include "pdfobjects.h"

#include <QTest>

using namespace tallivo;
using namespace tallivo::pdfread;

Q_DECLARE_METATYPE(tallivo::PdfStructureReason)

namespace {

QByteArray describe(const Token &t)
{
    switch (t.type) {
    case Tok::End:
        return "End";
    case Tok::Int:
        return (t.fits32 ? "Int:" : "Int64:") + QByteArray::number(t.value);
    case Tok::Real:
        return "Real:" + QByteArray::number(t.real) + (t.positive ? "+" : "");
    case Tok::String:
        return "String:" + QByteArray::number(t.start) + '-' + QByteArray::number(t.end);
    case Tok::Name:
        return "Name:" + QByteArray(t.text, t.length);
    case Tok::ArrayOpen:
        return "[";
    case Tok::ArrayClose:
        return "]";
    case Tok::DictOpen:
        return "<<";
    case Tok::DictClose:
        return ">>";
    case Tok::Keyword:
        return "Kw:" + QByteArray(t.text, t.length);
    }
    return "?";
}

// The tokens of `bytes` up to the end, or "aside:" and why the lexer stepped
// aside.
QByteArray lex(Cursor &cursor, qint64 budget = kMaxTokens)
{
    Lexer lexer(cursor, budget);
    QByteArrayList tokens;
    try {
        Token t;
        do {
            lexer.next(t);
            tokens << describe(t);
        } while (t.type != Tok::End);
    } catch (const StepAside &aside) {
        return "aside:" + QByteArray::number(int(aside.reason));
    }
    return tokens.join(' ');
}

QByteArray lex(const QByteArray &bytes, qint64 budget = kMaxTokens)
{
    Cursor cursor(bytes, 0, bytes.size());
    return lex(cursor, budget);
}

QByteArray aside(PdfStructureReason reason)
{
    return "aside:" + QByteArray::number(int(reason));
}

// A zlib stream of `data`, as FlateDecode holds it: qCompress() without its
// length prefix.
QByteArray deflated(const QByteArray &data)
{
    return qCompress(data).mid(4);
}

// Decodes `data` as the stream with dictionary `dict` would be.
QByteArray decoded(const QByteArray &dict, const QByteArray &data)
{
    Tree tree;
    Cursor cursor(dict, 0, dict.size());
    qint64 budget = kMaxTokens;
    Lexer lexer(cursor, budget);
    Parser parser(lexer, tree);
    tree.root = parser.value(0);
    BlockReader reader(-1, data.size(), data);
    return decode(reader, 0, data.size(), decodingOf(tree, tree.root));
}

} // namespace

class TestPdfLexer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void tokens_data();
    void tokens();
    void tokensAcrossReads();
    void budget();
    void values_data();
    void values();
    void filters();
};

void TestPdfLexer::tokens_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray damaged = aside(PdfStructureReason::DamagedObject);
    const QByteArray limit = aside(PdfStructureReason::LimitExceeded);

    QTest::newRow("dictionary without spaces")
        << QByteArray("<</Type/Page/Count 3>>")
        << QByteArray("<< Name:Type Name:Page Name:Count Int:3 >> End");
    QTest::newRow("comments and white space")
        << QByteArray("% note\r\n\t12\f%x\n-7\0 +4", 21) << QByteArray("Int:12 Int:-7 Int:4 End");
    QTest::newRow("reals") << QByteArray("3.5 -.25 0.0 4.")
                           << QByteArray("Real:3.5+ Real:-0.25 Real:0 Real:4+ End");
    QTest::newRow("integers past 32 bits")
        << QByteArray("2147483647 2147483648 -2147483648")
        << QByteArray("Int:2147483647 Int64:2147483648 Int64:-2147483648 End");
    QTest::newRow("keywords") << QByteArray("12 0 obj endobj true null R")
                              << QByteArray(
                                     "Int:12 Int:0 Kw:obj Kw:endobj Kw:true Kw:null Kw:R End");
    QTest::newRow("name escapes") << QByteArray("/A#20B /#41#62 /")
                                  << QByteArray("Name:A B Name:Ab Name: End");
    QTest::newRow("long name") << "/" + QByteArray(kMaxNameLength, 'n')
                               << "Name:" + QByteArray(kMaxNameLength, 'n') + " End";
    QTest::newRow("nested string") << QByteArray("(a(b)c) 5") << QByteArray("String:0-7 Int:5 End");
    QTest::newRow("escaped parenthesis")
        << QByteArray("(a\\)b\\(c) 5") << QByteArray("String:0-9 Int:5 End");
    QTest::newRow("escaped backslash before the close")
        << QByteArray("(a\\\\) 5") << QByteArray("String:0-5 Int:5 End");
    QTest::newRow("string with end of line escape")
        << QByteArray("(a\\\nb\\053) /N") << QByteArray("String:0-10 Name:N End");
    QTest::newRow("hex string with white space")
        << QByteArray("<48 65\n6C> /N") << QByteArray("String:0-10 Name:N End");
    QTest::newRow("empty containers")
        << QByteArray("[]<<>>()<>") << QByteArray("[ ] << >> String:6-8 String:8-10 End");

    // What the library would mend, split or guess at: the reader steps aside.
    QTest::newRow("unterminated string") << QByteArray("(abc") << damaged;
    QTest::newRow("unbalanced nested string") << QByteArray("(a(b) 5") << damaged;
    QTest::newRow("backslash at the end") << QByteArray("(abc\\") << damaged;
    QTest::newRow("bad hex digit") << QByteArray("<4G>") << damaged;
    QTest::newRow("unterminated hex string") << QByteArray("<48 65") << damaged;
    QTest::newRow("lone >") << QByteArray("> 1") << damaged;
    QTest::newRow("stray )") << QByteArray("1 )") << damaged;
    QTest::newRow("brace") << QByteArray("{1}") << damaged;
    QTest::newRow("truncated name escape") << QByteArray("/A#4") << damaged;
    QTest::newRow("name escape to NUL") << QByteArray("/A#00B") << damaged;
    QTest::newRow("number run into letters") << QByteArray("12abc") << damaged;
    QTest::newRow("number with two signs") << QByteArray("1-2") << damaged;
    QTest::newRow("number with two points") << QByteArray("3.4.5") << damaged;
    QTest::newRow("sign alone") << QByteArray("- 5") << damaged;
    QTest::newRow("integer past 64 bits") << QByteArray("99999999999999999999") << limit;
    QTest::newRow("name too long") << "/" + QByteArray(kMaxNameLength + 1, 'n') << limit;
    QTest::newRow("keyword too long") << QByteArray(kMaxNameLength + 1, 'k') << limit;
}

void TestPdfLexer::tokens()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, expected);
    QCOMPARE(lex(bytes), expected);
}

void TestPdfLexer::tokensAcrossReads()
{
    // Read from a file, tokens straddle the cursor's buffer of 4 KiB.
    QByteArray file(4090, ' ');
    file += "/LongName (a(b)c) 123456";
    BlockReader reader(-1, file.size(), file);
    Cursor cursor(reader, 0);
    QCOMPARE(lex(cursor), QByteArray("Name:LongName String:4100-4107 Int:123456 End"));

    // A file that cannot be read past its first bytes.
    BlockReader unreadable(-1, file.size(), file.left(4096));
    Cursor broken(unreadable, 0);
    QCOMPARE(lex(broken), aside(PdfStructureReason::ReadFailed));
}

void TestPdfLexer::budget()
{
    QCOMPARE(lex("1 2", 3), QByteArray("Int:1 Int:2 End"));
    QCOMPARE(lex("1 2 3", 3), aside(PdfStructureReason::LimitExceeded));
}

void TestPdfLexer::values_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<PdfStructureReason>("reason");

    using R = PdfStructureReason;
    QTest::newRow("reference in an array") << QByteArray("[1 0 R 2]") << R::Counted;
    QTest::newRow("dictionary") << QByteArray("<< /A [1 (x) /B] /C << /D null >> >>") << R::Counted;
    QTest::newRow("negative object number") << QByteArray("[-1 0 R]") << R::DamagedObject;
    QTest::newRow("negative generation") << QByteArray("[1 -1 R]") << R::DamagedObject;
    QTest::newRow("object number past 32 bits")
        << QByteArray("[4294967296 0 R]") << R::DamagedObject;
    QTest::newRow("unclosed array") << QByteArray("[1 2") << R::DamagedObject;
    QTest::newRow("unclosed dictionary") << QByteArray("<< /A 1") << R::DamagedObject;
    QTest::newRow("key that is no name") << QByteArray("<< 1 2 >>") << R::DamagedObject;
    QTest::newRow("unknown keyword") << QByteArray("[1 foo]") << R::DamagedObject;
    QTest::newRow("nested deeper than the bound")
        << QByteArray(kMaxDepth + 2, '[') + QByteArray(kMaxDepth + 2, ']') << R::LimitExceeded;
    QTest::newRow("nested to the bound")
        << QByteArray(kMaxDepth + 1, '[') + QByteArray(kMaxDepth + 1, ']') << R::Counted;
}

void TestPdfLexer::values()
{
    QFETCH(QByteArray, bytes);
    QFETCH(PdfStructureReason, reason);
    Tree tree;
    Cursor cursor(bytes, 0, bytes.size());
    qint64 budget = kMaxTokens;
    Lexer lexer(cursor, budget);
    Parser parser(lexer, tree);
    PdfStructureReason got = PdfStructureReason::Counted;
    try {
        tree.root = parser.value(0);
        QCOMPARE(parser.peek(0).type, Tok::End);
    } catch (const StepAside &aside) {
        got = aside.reason;
    }
    QCOMPARE(got, reason);
}

void TestPdfLexer::filters()
{
    using R = PdfStructureReason;
    auto reasonOf = [](const QByteArray &dict, const QByteArray &data) {
        try {
            decoded(dict, data);
        } catch (const StepAside &aside) {
            return aside.reason;
        }
        return R::Counted;
    };

    const QByteArray plain = "0123456789";
    QCOMPARE(decoded("<< >>", plain), plain);
    QCOMPARE(decoded("<< /Filter /FlateDecode >>", deflated(plain)), plain);
    QCOMPARE(decoded("<< /Filter [/FlateDecode] /DecodeParms [null] >>", deflated(plain)), plain);

    // PNG predictors, as cross-reference streams use them: rows of 3 bytes,
    // each after its filter type (None, Sub, Up, Average, Paeth).
    const QByteArray rows = QByteArray::fromHex("00010203"
                                                "01010101"
                                                "02010101"
                                                "03010101"
                                                "04010101");
    QCOMPARE(decoded("<< /Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 3 >> >>",
                     deflated(rows))
                 .toHex(),
             QByteArray("010203"
                        "010203"
                        "020304"
                        "020304"
                        "030405"));

    QCOMPARE(reasonOf("<< /Filter /FlateDecode >>", "xx" + deflated(plain)), R::DamagedObject);
    QCOMPARE(reasonOf("<< /Filter /FlateDecode >>", deflated(plain).left(6)), R::DamagedObject);
    QCOMPARE(reasonOf("<< /Filter /LZWDecode >>", plain), R::Unsupported);
    QCOMPARE(reasonOf("<< /Filter [/FlateDecode /ASCIIHexDecode] >>", plain), R::Unsupported);
    QCOMPARE(reasonOf("<< /Filter /FlateDecode /DecodeParms << /Predictor 2 >> >>", plain),
             R::Unsupported);
    QCOMPARE(reasonOf("<< /Filter /FlateDecode /DecodeParms << /Predictor 1 0 R >> >>", plain),
             R::Unsupported);
    QCOMPARE(reasonOf("<< /F (external.dat) >>", plain), R::Unsupported);
    // A row of an unknown filter type.
    QCOMPARE(reasonOf("<< /Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 1 >> >>",
                      deflated(QByteArray::fromHex("0501"))),
             R::Unsupported);
}

QTEST_GUILESS_MAIN(TestPdfLexer)
#include "tst_pdflexer.moc"
