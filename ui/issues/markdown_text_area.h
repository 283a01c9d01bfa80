#pragma once

#include <QPlainTextEdit>

#include <functional>
#include <optional>

class QMenu;

namespace quillmere {

class MarkdownHighlighter;
class SpellChecker;

// The text area of the Markdown editor: highlighted and spell-checked as the writer types,
// with suggestions in its context menu, and pictures dropped or pasted onto it turned into
// images of the issue.
class MarkdownTextArea : public QPlainTextEdit {
    Q_OBJECT

public:
    // `checker` may be null: no spelling.
    explicit MarkdownTextArea(SpellChecker* checker, QWidget* parent = nullptr);

    // Makes the Markdown for the pictures in dropped or pasted data; none when the data holds
    // no picture (it is then inserted as text). Set by the editor.
    std::function<std::optional<QString>(const QMimeData*)> pictureMarkdown;

    MarkdownHighlighter* highlighter() const { return m_highlighter; }

    // The context menu for a point of the viewport: the standard one, led by suggestions,
    // "Add to Dictionary" and "Ignore" when the word there is misspelt. The caller owns it.
    QMenu* contextMenuAt(const QPoint& viewportPosition);

protected:
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void followPalette();

    SpellChecker* m_checker;
    MarkdownHighlighter* m_highlighter;
};

} // namespace quillmere
