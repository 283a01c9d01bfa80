#pragma once

#include "render/md_inline.h"

#include <cstring>
#include <vector>

namespace quillmere {

// Writes the unstyled HTML fragment piece by piece, in document order: the one place that knows
// the tags, the line ends between blocks and how tight list items drop their paragraphs' <p>.
// Rendering a parsed tree and rendering straight from the parsers both go through it, so the two
// cannot differ. Calls nest as the document does: every open has its close.
class MDHtmlWriter {
public:
    // `expected` is a guess of the fragment's length, so that it is allocated once. Images of the
    // library ("media/<name>") point under `mediaBase`; without one they show their description
    // only, as any image without a usable source.
    explicit MDHtmlWriter(qsizetype expected = 0, QStringView mediaBase = {});

    // The fragment written so far; the writer is empty afterwards.
    QString take();

    // Blocks. The inline content of a heading or paragraph goes between its begin and end.
    void beginHeading(int level);
    void endHeading(int level);
    void beginParagraph();
    void endParagraph();
    void code(const std::optional<QString>& language, QStringView text);
    void rule();
    void beginQuote();
    void endQuote();
    void beginList(bool ordered, qint64 start, bool tight);
    void beginItem();
    void endItem();
    void endList();

    // Inline nodes: text is escaped here; strong, emphasis, strike and link wrap what is written
    // between their open and close (a link without a destination shows its text alone).
    void text(QStringView s);
    void code(QStringView s);
    void open(MDInline::Kind kind, const std::optional<QString>& url = std::nullopt);
    void close(MDInline::Kind kind, const std::optional<QString>& url = std::nullopt);
    void image(QStringView alt, const std::optional<QString>& src);
    void lineBreak();
    void softBreak();

private:
    // An open container: a sequence of blocks (the document, a quote, a list item) or a list.
    struct Level {
        bool list = false;
        bool ordered = false;
        bool tight = false;     // blocks of a tight item, or the items of a tight list
        bool lineAfter = false; // the container stands in a tight item
        qsizetype count = 0;    // blocks or items written so far
    };

    // The fragment grows in a buffer written through a pointer: a fragment is made of many short
    // pieces, and appending each to a QString costs more than copying it.
    void put(QStringView s) {
        const qsizetype n = s.size();
        if (m_end - m_at < n) {
            grow(n);
        }
        std::memcpy(m_at, s.utf16(), size_t(n) * sizeof(char16_t));
        m_at += n;
    }
    void put(char16_t c) {
        if (m_at == m_end) {
            grow(1);
        }
        *m_at++ = c;
    }
    void putEscaped(QStringView s);
    void putNumber(qint64 n);
    void grow(qsizetype more);

    // Before a block of the current sequence; true when that is a tight item, where a block
    // other than a paragraph stands on lines of its own.
    bool beforeBlock(bool paragraph);
    void afterBlock();

    QStringView m_mediaBase;
    QString m_out;
    char16_t* m_at = nullptr;
    char16_t* m_end = nullptr;
    std::vector<Level> m_levels;
};

} // namespace quillmere
