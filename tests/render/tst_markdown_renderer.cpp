#include "markdown_support.h"
#include "reference_markdown.h"
#include "render/markdown_renderer.h"
#include "render/md_block_parser.h"
#include "render/media_reference.h"

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
        QTest::newRow("text is escaped")
            << u"<b>&'\"\u00e9 &amp;"_qs << u"<p>&lt;b&gt;&amp;&#39;&quot;\u00e9 &amp;amp;</p>"_qs;
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

    // The library's own images point under the base they are hosted at; without a base, and
    // for anything that is not exactly media/<16 hex digits>.<jpg|png|gif|webp>, nothing changes.
    void mediaImages_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("hosted");
        QTest::addColumn<QString>("unhosted");
        const QString name = u"0123456789abcdef"_qs;
        QTest::newRow("image") << u"![a \"b\"](media/"_qs + name + u".png)"_qs
                               << u"<p><img src=\"https://w.example/media/"_qs + name +
                                      u".png\" alt=\"a &quot;b&quot;\"></p>"_qs
                               << u"<p>a &quot;b&quot;</p>"_qs;
        QTest::newRow("padded destination")
            << u"![a]( media/"_qs + name + u".webp )"_qs
            << u"<p><img src=\"https://w.example/media/"_qs + name + u".webp\" alt=\"a\"></p>"_qs
            << u"<p>a</p>"_qs;
        for (const QString& other :
             {u"media/0123456789ABCDEF.png"_qs, u"media/"_qs + name + u".svg"_qs,
              u"./media/"_qs + name + u".png"_qs, u"media/"_qs + name + u"0.png"_qs,
              u"media/../"_qs + name + u".png"_qs}) {
            QTest::newRow(qPrintable(other))
                << u"![a]("_qs + other + u")"_qs << u"<p>a</p>"_qs << u"<p>a</p>"_qs;
        }
        QTest::newRow("link") << u"[a](media/"_qs + name + u".png)"_qs << u"<p>a</p>"_qs
                              << u"<p>a</p>"_qs;
        QTest::newRow("code") << u"`![a](media/"_qs + name + u".png)`"_qs
                              << u"<p><code>![a](media/"_qs + name + u".png)</code></p>"_qs
                              << u"<p><code>![a](media/"_qs + name + u".png)</code></p>"_qs;
        QTest::newRow("remote image") << u"![a](https://x.com/i.png)"_qs
                                      << u"<p><img src=\"https://x.com/i.png\" alt=\"a\"></p>"_qs
                                      << u"<p><img src=\"https://x.com/i.png\" alt=\"a\"></p>"_qs;
    }
    void mediaImages() {
        QFETCH(QString, input);
        QFETCH(QString, hosted);
        QFETCH(QString, unhosted);
        const QList<MDBlock> blocks = MDBlockParser::parse(input);
        QCOMPARE(MarkdownRenderer::html(blocks, u"https://w.example"_qs), hosted);
        QCOMPARE(MarkdownRenderer::html(blocks), unhosted);
        QCOMPARE(MarkdownRenderer::html(input), unhosted);
    }

    void mediaNames() {
        const QString a = u"media/aaaaaaaaaaaaaaaa.jpg"_qs, b = u"media/bbbbbbbbbbbbbbbb.gif"_qs;
        const QString doc = u"> - *![x]("_qs + b + u")*\n\n![y]("_qs + a + u") ![z]("_qs + b +
                            u")\n\n```\n![c](media/cccccccccccccccc.png)\n```\n[l]("_qs + a +
                            u") ![r](https://x.com/media/dddddddddddddddd.png)"_qs;
        QCOMPARE(MediaReference::names(doc),
                 (QStringList{u"aaaaaaaaaaaaaaaa.jpg"_qs, u"bbbbbbbbbbbbbbbb.gif"_qs}));
        QCOMPARE(MediaReference::contentType(u"x.jpg"_qs), u"image/jpeg"_qs);
        QCOMPARE(MediaReference::nameFor("abc", u"png"_qs), u"ba7816bf8f01cfea.png"_qs);
        QCOMPARE(MediaReference::workerMediaBase(u" https://w.example// "_qs),
                 u"https://w.example"_qs);
        QCOMPARE(MediaReference::workerMediaBase(u"not a url"_qs), QString());
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
#include "tst_markdown_renderer.moc"
