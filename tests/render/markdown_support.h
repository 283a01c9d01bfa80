#pragma once

#include "render/md_block.h"

#include <QRandomGenerator>

namespace quillmere::md {

// Short builders for expected trees, so a case reads like the tree it describes. Test classes
// derive from it to call them unqualified.
struct Builders {
    static MDInline text(const QString& s) { return MDInline::makeText(s); }
    static MDInline code(const QString& s) { return MDInline::makeCode(s); }
    static MDInline strong(QList<MDInline> c) { return MDInline::makeStrong(std::move(c)); }
    static MDInline em(QList<MDInline> c) { return MDInline::makeEmphasis(std::move(c)); }
    static MDInline strike(QList<MDInline> c) { return MDInline::makeStrike(std::move(c)); }
    static MDInline link(std::optional<QString> href, QList<MDInline> c) {
        return MDInline::makeLink(std::move(href), std::move(c));
    }
    static MDInline image(const QString& alt, std::optional<QString> src) {
        return MDInline::makeImage(alt, std::move(src));
    }
    static MDInline br() { return MDInline::makeLineBreak(); }
    static MDInline soft() { return MDInline::makeSoftBreak(); }
    static MDBlock heading(int n, QList<MDInline> c) {
        return MDBlock::makeHeading(n, std::move(c));
    }
    static MDBlock para(QList<MDInline> c) { return MDBlock::makeParagraph(std::move(c)); }
    static MDBlock para(const QString& s) { return MDBlock::makeParagraph({text(s)}); }
    static MDBlock codeBlock(std::optional<QString> language, const QString& s) {
        return MDBlock::makeCode(std::move(language), s);
    }
    static MDBlock quote(QList<MDBlock> c) { return MDBlock::makeQuote(std::move(c)); }
    static MDBlock bullets(QList<QList<MDBlock>> items, bool tight = true) {
        return MDBlock::makeList(false, 1, std::move(items), tight);
    }
    static MDBlock numbers(qint64 start, QList<QList<MDBlock>> items, bool tight = true) {
        return MDBlock::makeList(true, start, std::move(items), tight);
    }
    static MDBlock rule() { return MDBlock::makeRule(); }
};

// Random Markdown-like text from pieces that exercise every rule: delimiters, brackets, code
// spans, escapes, line structure, clusters of several code units.
inline QString randomMarkdown(QRandomGenerator& rng, int pieces) {
    // The pieces, separated by "|".
    static const QStringList alphabet =
        QStringLiteral("*|**|_|__|~|~~|`|``|[|]|(|)|![|](|<|>|\\| |  |\n|\n\n|a|bc|1|- |* |1. |2) "
                       "|> |# |```|~~~|---|\t|\r|\"|'|https://x.y/p|a@b.co|mailto:|\u00e9|e\u0301|"
                       "\U0001F44D\U0001F3FD|\x1e|\u00a0|{{name}}|    |\\*|#|\u2019|\u00a9\u200d")
            .split(u'|');
    QString s;
    for (int i = 0; i < pieces; ++i) {
        s += alphabet[rng.bounded(int(alphabet.size()))];
    }
    return s;
}

} // namespace quillmere::md
