#include "import/csv_importer.h"

#include <QTest>

using namespace quillmere;
using Row = CSVImporter::Row;
using Rows = QList<Row>;

Q_DECLARE_METATYPE(Row)

namespace QTest {
template <>
char* toString(const Row& row) {
    QString text = QString::number(row.line) + QLatin1Char(':');
    for (const QString& field : row.fields) {
        text += QLatin1String(" [") + field + QLatin1Char(']');
    }
    return qstrdup(text.toUtf8().constData());
}
} // namespace QTest

class TestCSVTokenizer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void tokenize_data();
    void tokenize();
    void bomAndCrlfParseLikePlainText();
    void parseRowsDropsLineNumbers();
};

void TestCSVTokenizer::tokenize_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<Rows>("rows");
    const auto row = [](qsizetype line, QStringList fields) { return Row{line, fields}; };

    QTest::newRow("empty text") << QString() << Rows{};
    QTest::newRow("only line breaks") << QStringLiteral("\n\r\n\r\n") << Rows{};
    QTest::newRow("trailing break adds no row")
        << QStringLiteral("a,b\nc,d\n") << Rows{row(1, {"a", "b"}), row(2, {"c", "d"})};
    QTest::newRow("CR, LF and CRLF each end a line")
        << QStringLiteral("a\rb\nc\r\nd")
        << Rows{row(1, {"a"}), row(2, {"b"}), row(3, {"c"}), row(4, {"d"})};
    QTest::newRow("blank lines dropped but counted")
        << QStringLiteral("a\n\n\r\n\nb") << Rows{row(1, {"a"}), row(5, {"b"})};
    QTest::newRow("a line of two quotes is one empty field")
        << QStringLiteral("a\n\"\"\n\nb") << Rows{row(1, {"a"}), row(2, {""}), row(4, {"b"})};
    QTest::newRow("empty fields kept") << QStringLiteral(",,\n") << Rows{row(1, {"", "", ""})};
    QTest::newRow("white space is content")
        << QStringLiteral(" a , b \t") << Rows{row(1, {" a ", " b \t"})};
    QTest::newRow("doubled quote inside quotes")
        << QStringLiteral("a,\"b\"\"c\",d") << Rows{row(1, {"a", "b\"c", "d"})};
    QTest::newRow("comma inside quotes")
        << QStringLiteral("\"Okafor, Rui\",x") << Rows{row(1, {"Okafor, Rui", "x"})};
    QTest::newRow("quoted line break kept, next line counted")
        << QStringLiteral("\"x\ny\",z\nw") << Rows{row(1, {"x\ny", "z"}), row(3, {"w"})};
    QTest::newRow("quoted CRLF and lone CR become LF")
        << QStringLiteral("\"x\r\ny\rz\"\r\nw") << Rows{row(1, {"x\ny\nz"}), row(4, {"w"})};
    QTest::newRow("text after closing quote joins the field")
        << QStringLiteral("\"ab\"cd,e") << Rows{row(1, {"abcd", "e"})};
    QTest::newRow("quote after closing quote is ordinary")
        << QStringLiteral("\"ab\" \"cd\"") << Rows{row(1, {"ab \"cd\""})};
    QTest::newRow("quote inside unquoted field is ordinary")
        << QStringLiteral("he said \"hi\",x") << Rows{row(1, {"he said \"hi\"", "x"})};
    QTest::newRow("unterminated quote runs to the end")
        << QStringLiteral("a,\"b\nc,d\n") << Rows{row(1, {"a", "b\nc,d\n"})};
    QTest::newRow("lone opening quote") << QStringLiteral("\"") << Rows{row(1, {""})};
    QTest::newRow("three quotes") << QStringLiteral("\"\"\"") << Rows{row(1, {"\""})};
    // (QString's UTF-8 conversion would drop a mark from a narrow literal: build it here.)
    const QString bom(QChar(0xFEFF));
    QTest::newRow("byte order mark dropped at the start only")
        << bom + QStringLiteral("a,") + bom + QStringLiteral("b") << Rows{row(1, {"a", bom + "b"})};
    QTest::newRow("byte order mark alone") << QStringLiteral("\uFEFF") << Rows{};
    QTest::newRow("surrogate pairs stay whole")
        << QStringLiteral("🌿,\"x🌿\"\"🌿\"\n🌿") << Rows{row(1, {"🌿", "x🌿\"🌿"}), row(2, {"🌿"})};
}

void TestCSVTokenizer::tokenize() {
    QFETCH(QString, text);
    QFETCH(Rows, rows);
    QCOMPARE(CSVImporter::tokenize(text), rows);
}

void TestCSVTokenizer::bomAndCrlfParseLikePlainText() {
    const QString plain = QStringLiteral(
        "email,name,notes\nann@example.com,Ann,\"two\nlines\"\n\nbo@example.com,Bo,\"\"\n");
    QString windows = plain;
    windows.replace(QLatin1String("\n"), QLatin1String("\r\n")).prepend(QChar(0xFEFF));
    const Rows expected{
        Row{1, {"email", "name", "notes"}},
        Row{2, {"ann@example.com", "Ann", "two\nlines"}},
        Row{5, {"bo@example.com", "Bo", ""}},
    };
    QCOMPARE(CSVImporter::tokenize(plain), expected);
    QCOMPARE(CSVImporter::tokenize(windows), expected);
}

void TestCSVTokenizer::parseRowsDropsLineNumbers() {
    const QString text = QStringLiteral("a,b\n\n\"c\nd\",e\n");
    QCOMPARE(CSVImporter::parseRows(text), (QList<QStringList>{{"a", "b"}, {"c\nd", "e"}}));
}

QTEST_GUILESS_MAIN(TestCSVTokenizer)
#include "tst_csv_tokenizer.moc"
