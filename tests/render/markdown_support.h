#pragma once

#include "render/md_block.h"

#include <QRandomGenerator>

// Short builders for expected trees, so a case reads like the tree it describes.
namespace quillmere::md {

inline MDInline text(const QString& s) {
    return MDInline::makeText(s);
}
inline MDInline code(const QString& s) {
    return MDInline::makeCode(s);
}
inline MDInline strong(QList<MDInline> c) {
    return MDInline::makeStrong(std::move(c));
}
inline MDInline em(QList<MDInline> c) {
    return MDInline::makeEmphasis(std::move(c));
}
inline MDInline strike(QList<MDInline> c) {
    return MDInline::makeStrike(std::move(c));
}
inline MDInline link(std::optional<QString> href, QList<MDInline> c) {
    return MDInline::makeLink(std::move(href), std::move(c));
}
inline MDInline image(const QString& alt, std::optional<QString> src) {
    return MDInline::makeImage(alt, std::move(src));
}
inline MDInline br() {
    return MDInline::makeLineBreak();
}
inline MDInline soft() {
    return MDInline::makeSoftBreak();
}

inline MDBlock heading(int level, QList<MDInline> c) {
    return MDBlock::makeHeading(level, std::move(c));
}
inline MDBlock para(QList<MDInline> c) {
    return MDBlock::makeParagraph(std::move(c));
}
inline MDBlock para(const QString& s) {
    return MDBlock::makeParagraph({text(s)});
}
inline MDBlock codeBlock(std::optional<QString> language, const QString& s) {
    return MDBlock::makeCode(std::move(language), s);
}
inline MDBlock quote(QList<MDBlock> c) {
    return MDBlock::makeQuote(std::move(c));
}
inline MDBlock bullets(QList<QList<MDBlock>> items, bool tight = true) {
    return MDBlock::makeList(false, 1, std::move(items), tight);
}
inline MDBlock numbers(qint64 start, QList<QList<MDBlock>> items, bool tight = true) {
    return MDBlock::makeList(true, start, std::move(items), tight);
}
inline MDBlock rule() {
    return MDBlock::makeRule();
}

// Random Markdown-like text from pieces that exercise every rule: delimiters, brackets, code
// spans, escapes, line structure, clusters of several code units.
inline QString randomMarkdown(QRandomGenerator& rng, int pieces) {
    static const QStringList alphabet = {
        QStringLiteral("*"),
        QStringLiteral("**"),
        QStringLiteral("_"),
        QStringLiteral("__"),
        QStringLiteral("~"),
        QStringLiteral("~~"),
        QStringLiteral("`"),
        QStringLiteral("``"),
        QStringLiteral("["),
        QStringLiteral("]"),
        QStringLiteral("("),
        QStringLiteral(")"),
        QStringLiteral("!["),
        QStringLiteral("]("),
        QStringLiteral("<"),
        QStringLiteral(">"),
        QStringLiteral("\\"),
        QStringLiteral(" "),
        QStringLiteral("  "),
        QStringLiteral("\n"),
        QStringLiteral("\n\n"),
        QStringLiteral("a"),
        QStringLiteral("bc"),
        QStringLiteral("1"),
        QStringLiteral("- "),
        QStringLiteral("* "),
        QStringLiteral("1. "),
        QStringLiteral("2) "),
        QStringLiteral("> "),
        QStringLiteral("# "),
        QStringLiteral("```"),
        QStringLiteral("~~~"),
        QStringLiteral("---"),
        QStringLiteral("\t"),
        QStringLiteral("\r"),
        QStringLiteral("\""),
        QStringLiteral("'"),
        QStringLiteral("https://x.y/p"),
        QStringLiteral("a@b.co"),
        QStringLiteral("mailto:"),
        QStringLiteral("\u00e9"),
        QStringLiteral("e\u0301"),
        QStringLiteral("\U0001F44D\U0001F3FD"),
        QString(QChar(0x1E)),
        QStringLiteral("\u00a0"),
        QStringLiteral("{{name}}"),
        QStringLiteral("    "),
        QStringLiteral("\\*"),
        QStringLiteral("#"),
        QStringLiteral("\u2019"),
        QStringLiteral("\u00a9\u200d"),
    };
    QString s;
    for (int i = 0; i < pieces; ++i) {
        s += alphabet[rng.bounded(int(alphabet.size()))];
    }
    return s;
}

} // namespace quillmere::md
