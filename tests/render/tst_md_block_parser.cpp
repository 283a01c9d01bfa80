#include "markdown_support.h"
#include "reference_markdown.h"
#include "render/md_block_parser.h"

#include <QTest>

using namespace quillmere;

Q_DECLARE_METATYPE(QList<quillmere::MDBlock>)

class TestMDBlockParser : public QObject, md::Builders {
    Q_OBJECT

    void row(const char* name, const QString& input, QList<MDBlock> expected) {
        QTest::newRow(name) << input << expected;
    }

private Q_SLOTS:
    void parse_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QList<MDBlock>>("expected");
        // lines
        row("empty", QString(), {});
        row("hard-break marker in input disappears", u"a\u001eb"_qs, {para(u"ab"_qs)});
        row("byte order mark dropped", u"\ufeff# x"_qs, {heading(1, {text(u"x"_qs)})});
        row("no-break spaces trimmed like spaces", u"\u00a0a\u00a0"_qs, {para(u"a"_qs)});
        // headings
        row("seven is a paragraph", u"####### x"_qs, {para(u"####### x"_qs)});
        row("only closing run", u"## ##"_qs, {heading(2, {})});
        row("inline content", u"## a *b*"_qs, {heading(2, {text(u"a "_qs), em({text(u"b"_qs)})})});
        row("no setext heading", u"Title\n==="_qs,
            {para({text(u"Title"_qs), soft(), text(u"==="_qs)})});
        // fences
        row("unclosed runs to the end", u"```\na\n\nb"_qs, {codeBlock(std::nullopt, u"a\n\nb"_qs)});
        row("indent removed up to the fence's", u"  ```\n    a\n b\n```"_qs,
            {codeBlock(std::nullopt, u"  a\nb"_qs)});
        row("closing fence with trailing spaces", u"```\na\n```   "_qs,
            {codeBlock(std::nullopt, u"a"_qs)});
        // quotes
        row("blank line ends", u"> a\n\nb"_qs, {quote({para(u"a"_qs)}), para(u"b"_qs)});
        row("nested", u"> > x"_qs, {quote({quote({para(u"x"_qs)})})});
        row("holds a heading and a list", u"> # h\n> - a"_qs,
            {quote({heading(1, {text(u"h"_qs)}), bullets({{para(u"a"_qs)}})})});
        row("trailing spaces never break inside", u"> a  \n> b"_qs,
            {quote({para({text(u"a"_qs), soft(), text(u"b"_qs)})})});
        row("trailing backslash still breaks", u"> a\\\n> b"_qs,
            {quote({para({text(u"a"_qs), br(), text(u"b"_qs)})})});
        row("four spaces is paragraph text", u"    > a"_qs, {para(u"> a"_qs)});
        row("unclosed fence swallows the quote", u"> ```\n> a\nb"_qs,
            {quote({codeBlock(std::nullopt, u"a\nb"_qs)})});
        // lists
        row("nine digits", u"999999999. a"_qs, {numbers(999999999, {{para(u"a"_qs)}})});
        row("ten digits is a paragraph", u"1234567890. x"_qs, {para(u"1234567890. x"_qs)});
        row("markers may differ", u"- a\n* b\n+ c"_qs,
            {bullets({{para(u"a"_qs)}, {para(u"b"_qs)}, {para(u"c"_qs)}})});
        row("dot and parenthesis may differ", u"1. a\n2) b"_qs,
            {numbers(1, {{para(u"a"_qs)}, {para(u"b"_qs)}})});
        row("lazy continuation", u"- a\nb"_qs,
            {bullets({{para({text(u"a"_qs), soft(), text(u"b"_qs)})}})});
        row("continuation after a blank is loose", u"- a\n\n  b"_qs,
            {bullets({{para(u"a"_qs), para(u"b"_qs)}}, false)});
        row("unindented text after a blank ends", u"- a\n\nb"_qs,
            {bullets({{para(u"a"_qs)}}), para(u"b"_qs)});
        row("other kind after a blank ends", u"- a\n\n1. b"_qs,
            {bullets({{para(u"a"_qs)}}), numbers(1, {{para(u"b"_qs)}})});
        row("interrupts a paragraph", u"a\n2. b"_qs,
            {para(u"a"_qs), numbers(2, {{para(u"b"_qs)}})});
        row("heading ends the lazy text", u"- a\n# h"_qs,
            {bullets({{para(u"a"_qs)}}), heading(1, {text(u"h"_qs)})});
        row("code inside an item", u"- ```\n  x\n  ```"_qs,
            {bullets({{codeBlock(std::nullopt, u"x"_qs)}})});
        row("a rule under a list is no sibling item", u"- a\n* * *"_qs,
            {bullets({{para(u"a"_qs)}}), rule()});
        row("nor after a blank line", u"- a\n\n- - -"_qs, {bullets({{para(u"a"_qs)}}), rule()});
    }
    void parse() {
        QFETCH(QString, input);
        QFETCH(QList<MDBlock>, expected);
        QCOMPARE(debugString(MDBlockParser::parse(input)), debugString(expected));
        QVERIFY(MDBlockParser::parse(input) == expected);
    }

    void matchesThePlainReadingOnRandomInput() {
        QRandomGenerator rng(17);
        for (int round = 0; round < 4000; ++round) {
            const QString input = md::randomMarkdown(rng, 1 + rng.bounded(60));
            // On a difference, the input: parse it alone to see both trees.
            QVERIFY2(MDBlockParser::parse(input) == reference::parseBlocks(input),
                     qPrintable(debugString({text(input)})));
        }
    }

    void pathologicalInputsKeepTheirMeaning() {
        const QStringList shapes = {
            u">"_qs.repeated(400) + u" x"_qs,
            u"> "_qs.repeated(300) + u"x\ny"_qs,
            u"- "_qs.repeated(300) + u"x"_qs,
            u"1. "_qs.repeated(300) + u"x"_qs,
            u"- "_qs.repeated(100) + u"x\n"_qs + u"  y\n"_qs.repeated(50),
            u"- - - "_qs.repeated(60) + u"-"_qs.repeated(500) + u" x"_qs,
            u"> "_qs.repeated(100) + u"```"_qs + u"x"_qs.repeated(200) + u"\n```a`"_qs,
            u"- a\n"_qs + u"\n"_qs.repeated(300) + u"  b"_qs,
            u"- "_qs.repeated(60) + u" "_qs.repeated(500) + u"x"_qs,
        };
        for (const QString& input : shapes) {
            QCOMPARE(debugString(MDBlockParser::parse(input)),
                     debugString(reference::parseBlocks(input)));
        }
        // Deep enough to exhaust a recursive parser's stack.
        const QList<MDBlock> quotes = MDBlockParser::parse(u">"_qs.repeated(100000) + u" x"_qs);
        const MDBlock* b = &quotes.first();
        int depth = 1;
        while (b->kind == MDBlock::Kind::quote) {
            b = &b->children.first();
            ++depth;
        }
        QCOMPARE(depth, 100001);
        QCOMPARE(debugString({*b}), debugString({para(u"x"_qs)}));
        const QList<MDBlock> lists = MDBlockParser::parse(u"- "_qs.repeated(100000) + u"x"_qs);
        QCOMPARE(lists.size(), 1);
    }
};

QTEST_APPLESS_MAIN(TestMDBlockParser)
#include "tst_md_block_parser.moc"
