#include "markdown_support.h"
#include "reference_markdown.h"
#include "render/grapheme_clusters.h"
#include "render/md_inline_parser.h"

#include <QTest>

using namespace quillmere;

Q_DECLARE_METATYPE(QList<quillmere::MDInline>)

class TestMDInlineParser : public QObject, md::Builders {
    Q_OBJECT

    void addRow(const char* name, const QString& input, QList<MDInline> expected) {
        QTest::newRow(name) << input << expected;
    }

private Q_SLOTS:
    void parse_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QList<MDInline>>("expected");
        // escapes and breaks
        addRow("trailing backslash stays", u"a\\"_qs, {text(u"a\\"_qs)});
        addRow("escape before a star with a combining mark", u"\\*\u0301"_qs,
               {text(u"\\*\u0301"_qs)});
        addRow("soft break", u"a\nb"_qs, {text(u"a"_qs), soft(), text(u"b"_qs)});
        // codeSpans
        addRow("unmatched run is literal", u"``a`"_qs, {text(u"``a`"_qs)});
        addRow("longer run is skipped whole", u"`a``b`"_qs, {code(u"a``b"_qs)});
        // emphasis
        addRow("strong emphasis", u"***a***"_qs, {strong({em({text(u"a"_qs)})})});
        addRow("surplus opener", u"**a*"_qs, {text(u"*"_qs), em({text(u"a"_qs)})});
        addRow("longer closer keeps its surplus inside", u"*a***"_qs, {em({text(u"a**"_qs)})});
        addRow("nested strong", u"*a **b** c*"_qs,
               {em({text(u"a "_qs), strong({text(u"b"_qs)}), text(u" c"_qs)})});
        addRow("code span hides a closer", u"*a `*` b*"_qs,
               {em({text(u"a "_qs), code(u"*"_qs), text(u" b"_qs)})});
        addRow("cluster with a mark is no delimiter", u"*\u0301a*"_qs, {text(u"*\u0301a*"_qs)});
        addRow("decomposed letter inside", u"*e\u0301*"_qs, {em({text(u"e\u0301"_qs)})});
        addRow("emoji sequence inside", u"**\U0001F468\u200D\U0001F469\u200D\U0001F467**"_qs,
               {strong({text(u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_qs)})});
        // underscores
        addRow("inside a word", u"snake_case_name"_qs, {text(u"snake_case_name"_qs)});
        addRow("emphasis", u"_a_"_qs, {em({text(u"a"_qs)})});
        addRow("strong", u"__a__"_qs, {strong({text(u"a"_qs)})});
        addRow("closer before punctuation", u"_a_."_qs, {em({text(u"a"_qs)}), text(u"."_qs)});
        // strikethrough
        addRow("longer closer", u"~~a~~~"_qs, {strike({text(u"a~"_qs)})});
        // links
        addRow("angle destination with a space is read whole, then refused",
               u"[t](<https://x.com/a b>)"_qs, {link(std::nullopt, {text(u"t"_qs)})});
        addRow("angle destination", u"[t](<https://x.com/a>)"_qs,
               {link(u"https://x.com/a"_qs, {text(u"t"_qs)})});
        addRow("double-quoted title dropped", u"[t](https://x.com \"T\")"_qs,
               {link(u"https://x.com"_qs, {text(u"t"_qs)})});
        addRow("unclosed title", u"[t](https://x.com 'T)"_qs, {text(u"[t](https://x.com 'T)"_qs)});
        addRow("space before the parenthesis", u"[t] (u)"_qs, {text(u"[t] (u)"_qs)});
        addRow("unclosed destination", u"[t](https://x"_qs, {text(u"[t](https://x"_qs)});
        addRow("spaces and line ends around", u"[t](  \nhttps://x.com\n  )"_qs,
               {link(u"https://x.com"_qs, {text(u"t"_qs)})});
        addRow("balanced parentheses", u"[t](https://x.com/(b)c)"_qs,
               {link(u"https://x.com/(b)c"_qs, {text(u"t"_qs)})});
        addRow("escaped parenthesis", u"[t](https://x.com/\\))"_qs,
               {link(u"https://x.com/)"_qs, {text(u"t"_qs)})});
        addRow("empty destination", u"[t]()"_qs, {link(std::nullopt, {text(u"t"_qs)})});
        addRow("brackets nest", u"[a [b] c](https://x)"_qs,
               {link(u"https://x"_qs, {text(u"a [b] c"_qs)})});
        addRow("no link inside emphasis inside a link", u"[*[b](https://y)*](https://x)"_qs,
               {link(u"https://x"_qs, {em({text(u"[b](https://y)"_qs)})})});
        addRow("code span hides a bracket", u"[a `]` b](https://x)"_qs,
               {link(u"https://x"_qs, {text(u"a "_qs), code(u"]"_qs), text(u" b"_qs)})});
        // images
        addRow("alt is plain text", u"![alt *x*](https://x/i.png)"_qs,
               {image(u"alt x"_qs, u"https://x/i.png"_qs)});
        addRow("mailto source refused", u"![a](mailto:a@b.co)"_qs, {image(u"a"_qs, std::nullopt)});
        addRow("failed image keeps the bang", u"![a]"_qs, {text(u"![a]"_qs)});
        addRow("image inside a link", u"[![i](https://x/i.png)](https://y)"_qs,
               {link(u"https://y"_qs, {image(u"i"_qs, u"https://x/i.png"_qs)})});
        addRow("link text inside alt stays", u"![a [b](https://y)](https://x)"_qs,
               {image(u"a [b](https://y)"_qs, u"https://x"_qs)});
        addRow("nested image alt", u"![a ![b](https://y) c](https://x)"_qs,
               {image(u"a b c"_qs, u"https://x"_qs)});
        // autolinks
        addRow("https", u"<https://x.y/z>"_qs,
               {link(u"https://x.y/z"_qs, {text(u"https://x.y/z"_qs)})});
        addRow("not a link", u"<not a link>"_qs, {text(u"<not a link>"_qs)});
        addRow("invalid address", u"<a@b>"_qs, {text(u"<a@b>"_qs)});
    }
    void parse() {
        QFETCH(QString, input);
        QFETCH(QList<MDInline>, expected);
        QCOMPARE(debugString(MDInlineParser::parse(input, true)), debugString(expected));
        QVERIFY(MDInlineParser::parse(input, true) == expected);
    }

    void safeURL() {
        using MDInlineParser::safeURL;
        QCOMPARE(safeURL(u"  https://x.com/a?b=1  "_qs, false), u"https://x.com/a?b=1"_qs);
        QCOMPARE(safeURL(u"HTTP://X.COM"_qs, false), u"HTTP://X.COM"_qs);
        QCOMPARE(safeURL(u"http://x"_qs, false), u"http://x"_qs);
        QCOMPARE(safeURL(u"mailto:a"_qs, true), u"mailto:a"_qs);
        // Separated by "|"; the last is empty.
        for (const QString& url :
             QStringLiteral("https://|http://|mailto:|https://a b|https://a\u007fb|https://a\nb|"
                            "javascript:alert(1)|data:text/html,x|ftp://x|//x.com|x.com|/path|")
                 .split(u'|')) {
            QVERIFY2(!safeURL(url, true), qPrintable(url));
        }
        QVERIFY(!safeURL(u"mailto:a@b.co"_qs, false));
    }

    void plainText() {
        using MDInlineParser::plainText;
        QCOMPARE(plainText({link(u"https://x"_qs, {})}), u"https://x"_qs);
        QCOMPARE(plainText({link(u"MAILTO:a@b.co"_qs, {text(u"mail me"_qs)})}),
                 u"mail me (a@b.co)"_qs);
        QCOMPARE(plainText({image(u"alt"_qs, u"https://x"_qs), image(u"b"_qs, std::nullopt)}),
                 u"altb"_qs);
    }

    void mergeText() {
        QCOMPARE(debugString(MDInlineParser::mergeText(
                     {text(u"a"_qs), text(u"b"_qs), code(u"c"_qs), text(u"d"_qs), text(u"e"_qs)})),
                 debugString({text(u"ab"_qs), code(u"c"_qs), text(u"de"_qs)}));
    }

    // The production parser memoises its scans and keeps its own stack; a plain reading of the
    // rules must give the same trees on any input.
    void matchesThePlainReadingOnRandomInput() {
        QRandomGenerator rng(20250304);
        for (int round = 0; round < 4000; ++round) {
            const QString input = md::randomMarkdown(rng, 1 + rng.bounded(40));
            const bool allowLinks = rng.bounded(4) != 0;
            const QList<MDInline> expected = reference::parseInline(input, allowLinks);
            const QList<MDInline> actual = MDInlineParser::parse(input, allowLinks);
            // On a difference, the input: parse it alone to see both trees.
            QVERIFY2(actual == expected, qPrintable(debugString({text(input)})));
        }
    }

    void clusterBoundariesMatchTheFinder() {
        QRandomGenerator rng(7);
        // Separated by "|".
        const QStringList pieces =
            QStringLiteral(
                "a|\r|\n|\u0301|\u00e9|\U0001F44D|\U0001F3FD|\u200d|\U0001F1E9|\U0001F1EA|"
                "\u0600|1|\u1100|\u1161|\u11a8|*|\u0915|\u094d|\u0937| |\u0e01|\u0e31|"
                "\u03b1|\u0430|\u05d0|\u05b8|\u0644|\u064e|\u4e2d|\u3042|\u0308|\ufe0f|"
                "\u2019|\u00a0|\u20ac|\u0141|\u00ad|\u00a9|\u200d|\u2014")
                .split(u'|');
        for (int round = 0; round < 20000; ++round) {
            QString s;
            const int n = rng.bounded(24);
            for (int i = 0; i < n; ++i) {
                s += pieces[rng.bounded(int(pieces.size()))];
            }
            // On a difference, the input's UTF-8 bytes.
            QVERIFY2(GraphemeClusters::boundaries(s) == GraphemeClusters::boundariesByFinder(s),
                     s.toUtf8().toHex(' ').constData());
        }
    }

    // Found by fuzzing: with a Khmer sign in the text, Qt's tailored rules put a boundary inside
    // the surrogate pair of an emoji.
    void surrogatePairsStayWhole() {
        const QString input = u"\ufffd\U0001F468\u200d\U0001F469\u200d\ufffd \u17d1 x"_qs;
        for (const auto& b :
             {GraphemeClusters::boundaries(input), GraphemeClusters::boundariesByFinder(input)}) {
            for (int p : b) {
                QVERIFY(p == 0 || p == input.size() || !input[p].isLowSurrogate());
            }
        }
        QCOMPARE(debugString(MDInlineParser::parse(u"*\U0001F468 \u17d1*"_qs, true)),
                 debugString({em({text(u"\U0001F468 \u17d1"_qs)})}));
    }

    // Inputs that make a naive scanner quadratic or exhaust its stack: the answers must still be
    // those of the plain reading (checked at sizes it can handle) and deep ones must not crash.
    void pathologicalInputsKeepTheirMeaning() {
        const QStringList shapes = {
            u"*a "_qs.repeated(300),
            u"_a "_qs.repeated(300),
            u"~~a "_qs.repeated(300),
            u"["_qs.repeated(600),
            u"]"_qs.repeated(600),
            u"[a]("_qs.repeated(300),
            u"[a](<b "_qs.repeated(300),
            u"[a](b \""_qs.repeated(300),
            u"![a"_qs.repeated(300) + u"](https://x)"_qs.repeated(300),
            u"`"_qs.repeated(500) + u"a"_qs + u"``"_qs.repeated(200),
            u"*"_qs.repeated(900) + u"a"_qs + u"*"_qs.repeated(900),
            u"<a"_qs.repeated(400),
            u"\\"_qs.repeated(801) + u"*a*"_qs,
            u"*a `"_qs.repeated(200) + u"b*"_qs,
            u"[`"_qs.repeated(200) + u"](x) `"_qs.repeated(200),
            u"**a *b "_qs.repeated(150) + u"c** d*"_qs.repeated(150),
        };
        for (const QString& input : shapes) {
            QCOMPARE(debugString(MDInlineParser::parse(input, true)),
                     debugString(reference::parseInline(input, true)));
        }
        const QString deep = u"![a"_qs.repeated(50000) + u"](https://x)"_qs.repeated(50000);
        const QList<MDInline> nodes = MDInlineParser::parse(deep, true);
        QCOMPARE(nodes.size(), 1);
        QCOMPARE(nodes.first().kind, MDInline::Kind::image);
        QCOMPARE(nodes.first().text, u"a"_qs.repeated(50000));
    }
};

QTEST_APPLESS_MAIN(TestMDInlineParser)
#include "tst_md_inline_parser.moc"
