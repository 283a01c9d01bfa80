#include "markdown_support.h"
#include "reference_markdown.h"
#include "render/markdown_renderer.h"
#include "render/md_block_parser.h"

#include <QTest>

using namespace quillmere;

class TestMarkdownRenderer : public QObject {
    Q_OBJECT

    void columns() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
    }

private Q_SLOTS:
    void html_data() {
        columns();
        QTest::newRow("heading") << u"# Hi *there*"_qs << u"<h1>Hi <em>there</em></h1>"_qs;
        QTest::newRow("code with language")
            << u"```c++\n<b>\n```"_qs
            << u"<pre><code class=\"language-c++\">&lt;b&gt;</code></pre>"_qs;
        QTest::newRow("language is escaped")
            << u"```a\"b\nx\n```"_qs << u"<pre><code class=\"language-a&quot;b\">x</code></pre>"_qs;
        QTest::newRow("tight list") << u"- a\n- b"_qs << u"<ul>\n<li>a</li>\n<li>b</li>\n</ul>"_qs;
        QTest::newRow("loose list")
            << u"- a\n\n- b"_qs << u"<ul>\n<li>\n<p>a</p>\n</li>\n<li>\n<p>b</p>\n</li>\n</ul>"_qs;
        QTest::newRow("ordered from three")
            << u"3. x"_qs << u"<ol start=\"3\">\n<li>x</li>\n</ol>"_qs;
        QTest::newRow("ordered from one") << u"1. x"_qs << u"<ol>\n<li>x</li>\n</ol>"_qs;
        QTest::newRow("tight item with a nested list")
            << u"- a\n  - b"_qs << u"<ul>\n<li>a\n<ul>\n<li>b</li>\n</ul>\n</li>\n</ul>"_qs;
        QTest::newRow("tight item with a quote")
            << u"- > q"_qs << u"<ul>\n<li>\n<blockquote>\n<p>q</p>\n</blockquote>\n</li>\n</ul>"_qs;
        QTest::newRow("empty item") << u"-"_qs << u"<ul>\n<li></li>\n</ul>"_qs;
        QTest::newRow("quote") << u"> a\n>\n> b"_qs
                               << u"<blockquote>\n<p>a</p>\n<p>b</p>\n</blockquote>"_qs;
        QTest::newRow("empty quote") << u">"_qs << u"<blockquote>\n\n</blockquote>"_qs;
        QTest::newRow("rule") << u"a\n\n---"_qs << u"<p>a</p>\n<hr>"_qs;
        QTest::newRow("refused link is its text") << u"[t](javascript:x)"_qs << u"<p>t</p>"_qs;
        QTest::newRow("link and image")
            << u"[t](https://x.com/?a=1&b=\"2\") ![i'm](https://x.com/i.png)"_qs
            << u"<p><a href=\"https://x.com/?a=1&amp;b=&quot;2&quot;\">t</a> "
               "<img src=\"https://x.com/i.png\" alt=\"i&#39;m\"></p>"_qs;
        QTest::newRow("inline styles")
            << u"**b** *i* ~~s~~ `c<d>`"_qs
            << u"<p><strong>b</strong> <em>i</em> <del>s</del> <code>c&lt;d&gt;</code></p>"_qs;
        QTest::newRow("breaks") << u"a  \nb\nc"_qs << u"<p>a<br>\nb\nc</p>"_qs;
        QTest::newRow("text is escaped") << u"<b>&'\""_qs << u"<p>&lt;b&gt;&amp;&#39;&quot;</p>"_qs;
    }
    void html() {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(MarkdownRenderer::html(input), expected);
    }

    void plainText_data() {
        columns();
        QTest::newRow("ordered start") << u"3. x"_qs << u"3. x"_qs;
        QTest::newRow("rule") << u"---"_qs << u"* * *"_qs;
        QTest::newRow("code keeps empty lines")
            << u"```\nx\n\ny\n```"_qs << u"    x\n    \n    y"_qs;
        QTest::newRow("blocks joined with an empty line")
            << u"# T\n\npara *x*\n\n- a\n- b"_qs << u"T\n\npara x\n\n- a\n- b"_qs;
        QTest::newRow("marker width indents") << u"10. a\n    b"_qs << u"10. a\n    b"_qs;
        QTest::newRow("nested list") << u"- a\n  - b\n    c"_qs << u"- a\n  - b\n    c"_qs;
        QTest::newRow("quote with two paragraphs") << u"> a\n>\n> b"_qs << u"> a\n>\n> b"_qs;
        QTest::newRow("nested quote") << u"> a\n> > b"_qs << u"> a\n>\n> > b"_qs;
        QTest::newRow("quote in an item") << u"- > a\n  >\n  > b"_qs << u"- > a\n  >\n  > b"_qs;
        QTest::newRow("empty item") << u"-"_qs << u"- "_qs;
        QTest::newRow("links show their address") << u"[site](https://x.com) <a@b.co> [t](/rel)"_qs
                                                  << u"site (https://x.com) a@b.co t"_qs;
        QTest::newRow("hard break") << u"a\\\nb"_qs << u"a\nb"_qs;
        QTest::newRow("nothing escaped") << u"<b>&"_qs << u"<b>&"_qs;
        QTest::newRow("loose item with code")
            << u"- a\n\n  ```\n  x\n  ```"_qs << u"- a\n\n      x"_qs;
    }
    void plainText() {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(MarkdownRenderer::plainText(input), expected);
    }

    void escapeHTML() {
        QCOMPARE(MarkdownRenderer::escapeHTML(u"a&b<c>d\"e'f\u00e9"_qs),
                 u"a&amp;b&lt;c&gt;d&quot;e&#39;f\u00e9"_qs);
        QCOMPARE(MarkdownRenderer::escapeHTML(u"&amp;"_qs), u"&amp;amp;"_qs);
        QCOMPARE(MarkdownRenderer::escapeHTML(QString()), QString());
    }

    // The renderings keep their own stacks, and the HTML of a text is written in one pass without
    // a tree; a recursive reading of the rules must agree.
    void matchesThePlainReadingOnRandomInput() {
        QRandomGenerator rng(99);
        for (int round = 0; round < 3000; ++round) {
            const QString input = md::randomMarkdown(rng, 1 + rng.bounded(60));
            const QList<MDBlock> blocks = MDBlockParser::parse(input);
            QCOMPARE(MarkdownRenderer::html(blocks), reference::html(blocks));
            QCOMPARE(MarkdownRenderer::html(input), reference::html(reference::parseBlocks(input)));
            QCOMPARE(MarkdownRenderer::plainText(blocks), reference::plainText(blocks));
        }
    }

    void deepNestingRenders() {
        const QString quotes = u">"_qs.repeated(100000) + u" x"_qs;
        const QString html = MarkdownRenderer::html(quotes);
        QVERIFY(html.startsWith(u"<blockquote>\n<blockquote>\n"_qs));
        QCOMPARE(html.count(u"<blockquote>"_qs), 100000);
        const QString plain = MarkdownRenderer::plainText(quotes);
        QCOMPARE(plain, u"> "_qs.repeated(100000) + u"x"_qs);
        const QString items = MarkdownRenderer::plainText(u"- "_qs.repeated(50000) + u"x"_qs);
        QCOMPARE(items, u"- "_qs.repeated(50000) + u"x"_qs);
    }
};

QTEST_APPLESS_MAIN(TestMarkdownRenderer)
#include "test_markdown_renderer.moc"
