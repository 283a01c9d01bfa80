#include "ui/issues/markdown_highlighter.h"

#include "ui/issues/spell_checker.h"

#include <QRegularExpression>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QTextLayout>

namespace quillmere {

namespace {

// Block states: how a line ends decides how the next one reads.
enum State : int {
    plain = 0,
    fenceBackticks = 1, // inside ``` ... ```
    fenceTildes = 2,    // inside ~~~ ... ~~~
    blank = 4,          // the line was empty
    indentedCode = 8,   // the line was indented code
    inList = 16,        // the line belonged to a list item
};

const QRegularExpression fence(QStringLiteral("^ {0,3}(`{3,}|~{3,})"));
const QRegularExpression heading(QStringLiteral("^ {0,3}#{1,6}(\\s|$)"));
const QRegularExpression quote(QStringLiteral("^ {0,3}(> ?)+"));
const QRegularExpression listMarker(QStringLiteral("^\\s*([-*+]|\\d{1,9}[.)])(\\s+|$)"));
const QRegularExpression rule(QStringLiteral("^ {0,3}([-*_])(\\s*\\1){2,}\\s*$"));
const QRegularExpression codeSpan(QStringLiteral("(`+)(.+?)\\1"));
const QRegularExpression mergeTag(QStringLiteral("\\{\\{[^{}]*\\}\\}"));
const QRegularExpression image(QStringLiteral("!\\[([^\\]]*)\\]\\(([^)]*)\\)"));
const QRegularExpression link(QStringLiteral("(?<!!)\\[([^\\]]*)\\]\\(([^)]*)\\)"));
const QRegularExpression autolink(QStringLiteral("<[^<>\\s]+>"));
// Web and e-mail addresses written out: never words.
const QRegularExpression address(
    QStringLiteral("\\b(?:[a-z][a-z0-9+.-]*://|www\\.)\\S+|[^\\s<>()\\[\\]]+@[^\\s<>()\\[\\]]+"),
    QRegularExpression::CaseInsensitiveOption);
const QRegularExpression strong(QStringLiteral("(\\*\\*|__)(?=\\S)(.+?)(?<=\\S)\\1"));
const QRegularExpression
    emphasis(QStringLiteral("(?<![*\\w])\\*(?=[^*\\s])([^*]+?)(?<=\\S)\\*(?!\\*)|(?<!\\w)_(?=[^_"
                            "\\s])([^_]+?)(?<=\\S)_(?!\\w)"));
const QRegularExpression strike(QStringLiteral("~~(?=\\S)(.+?)(?<=\\S)~~"));

bool isIndented(QStringView line) {
    return line.startsWith(u'\t') || line.startsWith(u"    ");
}

} // namespace

struct MarkdownHighlighter::Palette {
    QColor marker, heading, code, codeBackground, link, url, tag, quote, misspelt;
};

MarkdownHighlighter::MarkdownHighlighter(QTextDocument* document, SpellChecker* checker)
    : QSyntaxHighlighter(document)
    , m_checker(checker) {
    if (checker) {
        connect(checker, &SpellChecker::changed, this, &QSyntaxHighlighter::rehighlight);
        // Checking a whole long issue again takes a noticeable moment; one word needs only the
        // lines it is on.
        connect(checker, &SpellChecker::accepted, this, [this](const QString& word) {
            for (QTextBlock b = this->document()->begin(); b.isValid(); b = b.next()) {
                if (b.text().contains(word)) {
                    rehighlightBlock(b);
                }
            }
        });
    }
}

void MarkdownHighlighter::setDark(bool dark) {
    if (dark != m_dark) {
        m_dark = dark;
        rehighlight();
    }
}

const MarkdownHighlighter::Palette& MarkdownHighlighter::colours() const {
    // Each colour keeps a contrast of at least 4.5:1 against a white or a near-black page.
    static const Palette light{
        QColor(0x6e, 0x77, 0x81), QColor(0x0b, 0x4f, 0x9c), QColor(0x8a, 0x3f, 0x00),
        QColor(0xf3, 0xf4, 0xf6), QColor(0x05, 0x5f, 0xc5), QColor(0x57, 0x60, 0x6a),
        QColor(0x7a, 0x2e, 0xb8), QColor(0x4d, 0x59, 0x66), QColor(0xd1, 0x24, 0x2f)};
    static const Palette dark{
        QColor(0x9d, 0xa5, 0xb0), QColor(0x79, 0xc0, 0xff), QColor(0xff, 0xb8, 0x6c),
        QColor(0x2a, 0x2d, 0x33), QColor(0x58, 0xa6, 0xff), QColor(0xa0, 0xa8, 0xb3),
        QColor(0xd2, 0xa8, 0xff), QColor(0xb1, 0xba, 0xc4), QColor(0xff, 0x7b, 0x72)};
    return m_dark ? dark : light;
}

QList<MarkdownHighlighter::Span> MarkdownHighlighter::checkedWords(QStringView line) {
    QList<bool> quiet(line.size(), false);
    const QString text = line.toString();
    for (const QRegularExpression* p : {&codeSpan, &mergeTag, &autolink, &address}) {
        for (auto it = p->globalMatch(text); it.hasNext();) {
            const auto m = it.next();
            std::fill(quiet.begin() + m.capturedStart(), quiet.begin() + m.capturedEnd(), true);
        }
    }
    for (const QRegularExpression* p : {&image, &link}) {
        for (auto it = p->globalMatch(text); it.hasNext();) {
            const auto m = it.next();
            std::fill(quiet.begin() + m.capturedStart(2), quiet.begin() + m.capturedEnd(2), true);
        }
    }
    QList<Span> words;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, text);
    int start = 0;
    for (int end = int(finder.toNextBoundary()); end > 0; end = int(finder.toNextBoundary())) {
        const QStringView word = line.mid(start, end - start);
        bool wanted = word.size() > 1 && word.front().isLetter();
        for (int i = start; wanted && i < end; ++i) {
            wanted = !quiet[i] && !line[i].isDigit();
        }
        if (wanted) {
            words.append({start, end - start});
        }
        start = end;
    }
    return words;
}

std::optional<MarkdownHighlighter::Span> MarkdownHighlighter::misspeltAt(const QTextBlock& block,
                                                                         int positionInBlock) {
    if (!block.layout()) {
        return std::nullopt;
    }
    for (const QTextLayout::FormatRange& r : block.layout()->formats()) {
        if (r.format.underlineStyle() == QTextCharFormat::SpellCheckUnderline &&
            positionInBlock >= r.start && positionInBlock <= r.start + r.length) {
            return Span{r.start, r.length};
        }
    }
    return std::nullopt;
}

void MarkdownHighlighter::highlightBlock(const QString& text) {
    const Palette& c = colours();
    const int before = std::max(previousBlockState(), 0);
    QTextCharFormat code;
    code.setForeground(c.code);
    code.setBackground(c.codeBackground);

    // Fenced and indented code: one colour, no spelling.
    if (before & (fenceBackticks | fenceTildes)) {
        setFormat(0, int(text.size()), code);
        const auto m = fence.match(text);
        const bool closes = m.hasMatch() &&
                            m.captured(1).front() == (before & fenceBackticks ? u'`' : u'~') &&
                            text.mid(m.capturedEnd()).trimmed().isEmpty();
        setCurrentBlockState(closes ? plain : before & (fenceBackticks | fenceTildes));
        return;
    }
    if (const auto m = fence.match(text); m.hasMatch()) {
        setFormat(0, int(text.size()), code);
        setCurrentBlockState(m.captured(1).front() == u'`' ? fenceBackticks : fenceTildes);
        return;
    }
    if (text.trimmed().isEmpty()) {
        setCurrentBlockState(blank | (before & (inList | indentedCode)));
        return;
    }
    if (isIndented(text) && (before & (blank | indentedCode)) && !(before & inList)) {
        setFormat(0, int(text.size()), code);
        setCurrentBlockState(indentedCode);
        return;
    }

    QTextCharFormat marker;
    marker.setForeground(c.marker);
    int state = plain;
    if (const auto m = heading.match(text); m.hasMatch()) {
        QTextCharFormat f;
        f.setForeground(c.heading);
        f.setFontWeight(QFont::Bold);
        setFormat(0, int(text.size()), f);
        setFormat(0, int(m.capturedLength()), marker);
    } else if (rule.match(text).hasMatch()) {
        setFormat(0, int(text.size()), marker);
        setCurrentBlockState(plain);
        return;
    } else {
        int at = 0;
        if (const auto m = quote.match(text); m.hasMatch()) {
            QTextCharFormat f;
            f.setForeground(c.quote);
            f.setFontItalic(true);
            setFormat(0, int(text.size()), f);
            setFormat(0, int(m.capturedLength()), marker);
            at = int(m.capturedLength());
        }
        const auto m = listMarker.match(QStringView(text).mid(at));
        if (m.hasMatch()) {
            setFormat(at + int(m.capturedStart(1)), int(m.capturedLength(1)), marker);
            state = inList;
        } else if ((before & inList) && (isIndented(text) || !(before & blank))) {
            state = inList; // a continuation of the item
        }
    }
    setCurrentBlockState(state);

    inlines(text);
    if (!m_checker) {
        return;
    }
    for (const Span& w : checkedWords(text)) {
        if (!m_checker->isCorrect(text.mid(w.start, w.length))) {
            for (int i = w.start; i < w.start + w.length; ++i) {
                QTextCharFormat f = format(i);
                f.setUnderlineStyle(QTextCharFormat::SpellCheckUnderline);
                f.setUnderlineColor(c.misspelt);
                setFormat(i, 1, f);
            }
        }
    }
}

void MarkdownHighlighter::inlines(const QString& text) {
    const Palette& c = colours();
    const auto each = [&text](const QRegularExpression& p, auto apply) {
        for (auto it = p.globalMatch(text); it.hasNext();) {
            apply(it.next());
        }
    };
    const auto add = [this](int start, int length, auto change) {
        for (int i = start; i < start + length; ++i) {
            QTextCharFormat f = format(i);
            change(f);
            setFormat(i, 1, f);
        }
    };
    each(strong, [&](const QRegularExpressionMatch& m) {
        add(int(m.capturedStart()), int(m.capturedLength()),
            [](QTextCharFormat& f) { f.setFontWeight(QFont::Bold); });
    });
    each(emphasis, [&](const QRegularExpressionMatch& m) {
        add(int(m.capturedStart()), int(m.capturedLength()),
            [](QTextCharFormat& f) { f.setFontItalic(true); });
    });
    each(strike, [&](const QRegularExpressionMatch& m) {
        add(int(m.capturedStart()), int(m.capturedLength()),
            [](QTextCharFormat& f) { f.setFontStrikeOut(true); });
    });
    const auto colour = [&](const QRegularExpression& p, const QColor& colour, int group) {
        each(p, [&](const QRegularExpressionMatch& m) {
            add(int(m.capturedStart(group)), int(m.capturedLength(group)),
                [&colour](QTextCharFormat& f) { f.setForeground(colour); });
        });
    };
    colour(link, c.link, 0);
    colour(link, c.url, 2);
    colour(image, c.tag, 0);
    colour(image, c.url, 2);
    colour(autolink, c.url, 0);
    colour(mergeTag, c.tag, 0);
    each(codeSpan, [&](const QRegularExpressionMatch& m) {
        add(int(m.capturedStart()), int(m.capturedLength()), [&c](QTextCharFormat& f) {
            f.setForeground(c.code);
            f.setBackground(c.codeBackground);
            f.setFontWeight(QFont::Normal);
            f.setFontItalic(false);
        });
    });
}

} // namespace quillmere
