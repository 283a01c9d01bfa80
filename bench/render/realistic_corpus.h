#pragma once

#include <QByteArray>
#include <QStringList>

#include <random>

// A newsletter-like Markdown corpus of about `bytes` bytes, the same on every run: mostly prose
// paragraphs with some emphasis, links and inline code, headings, bullet and ordered lists,
// quotes, fenced code, and the typographic non-ASCII characters writers use (curly quotes,
// dashes, accented names, the odd emoji).
inline QByteArray realisticCorpus(qsizetype bytes) {
    static const QStringList words =
        QStringLiteral(
            "the of and to in a is that for it as was with be by on not he this are or his from "
            "at which but have an they you were her she there been one all we their has would when "
            "if so no will more can about out up them some could what into only time other new "
            "tools software attention morning writing letters readers garden quiet interface "
            "notification calendar archive subscribers weekly essay practice habit workshop paper "
            "keyboard window screen reply evening coffee train offline laptop notebook honest "
            "progress calm remember patience design small careful useful simple steady")
            .split(u' ');
    static const QStringList names = {QStringLiteral("Ren\u00e9e"), QStringLiteral("Jos\u00e9"),
                                      QStringLiteral("Zo\u00eb"),   QStringLiteral("Mara"),
                                      QStringLiteral("Tom\u00e1s"), QStringLiteral("Ada")};
    std::mt19937 rng(20250304);
    auto pick = [&](const QStringList& list) { return list[int(rng() % uint32_t(list.size()))]; };
    auto sentence = [&]() {
        QString s;
        const int n = 8 + int(rng() % 14);
        for (int i = 0; i < n; ++i) {
            QString w = pick(words);
            const uint32_t r = rng() % 100;
            if (i == 0) {
                w[0] = w[0].toUpper();
            } else if (r < 3) {
                w = QStringLiteral("*") + w + QStringLiteral("*");
            } else if (r < 5) {
                w = QStringLiteral("**") + w + QStringLiteral("**");
            } else if (r < 6) {
                w = QStringLiteral("`") + w + QStringLiteral("()`");
            } else if (r < 7) {
                w = QStringLiteral("[") + w + QStringLiteral("](https://example.com/") + w +
                    QStringLiteral(")");
            } else if (r < 8) {
                w = QStringLiteral("\u201c") + w + QStringLiteral("\u201d");
            } else if (r < 9) {
                w = pick(names);
            } else if (r < 10) {
                w += QStringLiteral(" \u2014");
            } else if (r < 11) {
                w += QStringLiteral("\u2019s");
            }
            s += (i ? QStringLiteral(" ") : QString()) + w;
        }
        return s + (rng() % 10 == 0 ? QStringLiteral("?") : QStringLiteral("."));
    };
    auto paragraph = [&]() {
        QString p;
        const int n = 2 + int(rng() % 5);
        for (int i = 0; i < n; ++i) {
            p += (i ? (rng() % 3 == 0 ? QStringLiteral("\n") : QStringLiteral(" ")) : QString()) +
                 sentence();
        }
        return p;
    };
    QString out;
    int section = 0;
    // The UTF-8 size is kept up to date piece by piece rather than by converting it all each time.
    qsizetype utf8Size = 0;
    qsizetype counted = 0;
    while (utf8Size < bytes) {
        utf8Size += QStringView(out).mid(counted).toUtf8().size();
        counted = out.size();
        if (utf8Size >= bytes) {
            break;
        }
        out += QStringLiteral("## ") + QString::number(++section) + QStringLiteral(". ") +
               pick(words) + QStringLiteral(" and ") + pick(words) + QStringLiteral("\n\n");
        const int blocks = 4 + int(rng() % 6);
        for (int b = 0; b < blocks; ++b) {
            const uint32_t kind = rng() % 20;
            if (kind < 12) {
                out += paragraph() + QStringLiteral("\n\n");
            } else if (kind < 14) {
                const int items = 2 + int(rng() % 4);
                for (int i = 0; i < items; ++i) {
                    out += QStringLiteral("- ") + sentence() + QStringLiteral("\n");
                }
                out += QStringLiteral("\n");
            } else if (kind < 15) {
                const int items = 2 + int(rng() % 4);
                for (int i = 0; i < items; ++i) {
                    out += QString::number(i + 1) + QStringLiteral(". ") + sentence() +
                           QStringLiteral("\n");
                }
                out += QStringLiteral("\n");
            } else if (kind < 17) {
                out += QStringLiteral("> ") + sentence() + QStringLiteral("\n> ") + sentence() +
                       QStringLiteral("\n\n");
            } else if (kind < 18) {
                out += QStringLiteral("```js\nconst ") + pick(words) +
                       QStringLiteral(" = await fetch(\"https://example.com/api\");\n"
                                      "if (!response.ok) { throw new Error(\"nope\"); }\n```\n\n");
            } else if (kind < 19) {
                out += QStringLiteral("### ") + sentence() + QStringLiteral("\n\n");
            } else {
                out += QStringLiteral("![") + pick(words) +
                       QStringLiteral("](https://example.com/img/photo.jpg)\n\n---\n\n");
            }
        }
    }
    out += QStringLiteral("Until next week,\nMara \U0001F33F\n");
    return out.toUtf8();
}
