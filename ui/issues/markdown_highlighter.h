#pragma once

#include <QList>
#include <QPointer>
#include <QSyntaxHighlighter>

#include <optional>

namespace quillmere {

class SpellChecker;

// Colours the Markdown of an issue (headings, emphasis, links and images, code, quotes, list
// markers, {{name}} tags) and underlines misspelt words. Code, link destinations, merge tags,
// web and e-mail addresses are never spell-checked. Works one line at a time, as the text
// changes, so typing in a long issue costs one line's work.
class MarkdownHighlighter : public QSyntaxHighlighter {
    Q_OBJECT

public:
    struct Span {
        int start = 0;
        int length = 0;
        bool operator==(const Span&) const = default;
    };

    // `checker` may be null: no spelling.
    MarkdownHighlighter(QTextDocument* document, SpellChecker* checker);

    // Colours for a dark or a light background.
    void setDark(bool dark);

    // The words of a line of prose that spelling looks at.
    static QList<Span> checkedWords(QStringView line);
    // The misspelt word at a position of a block, as marked when the block was highlighted.
    static std::optional<Span> misspeltAt(const QTextBlock& block, int positionInBlock);

protected:
    void highlightBlock(const QString& text) override;

private:
    struct Palette;
    const Palette& colours() const;
    void inlines(const QString& text);

    QPointer<SpellChecker> m_checker;
    bool m_dark = false;
};

} // namespace quillmere
