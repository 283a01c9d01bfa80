#include "ui/issues/markdown_text_area.h"

#include "ui/issues/markdown_highlighter.h"
#include "ui/issues/spell_checker.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMimeData>
#include <QTextBlock>

namespace quillmere {

MarkdownTextArea::MarkdownTextArea(SpellChecker* checker, QWidget* parent)
    : QPlainTextEdit(parent)
    , m_checker(checker)
    , m_highlighter(new MarkdownHighlighter(document(), checker)) {
    followPalette();
}

bool MarkdownTextArea::canInsertFromMimeData(const QMimeData* source) const {
    return source->hasImage() || source->hasUrls() || QPlainTextEdit::canInsertFromMimeData(source);
}

void MarkdownTextArea::insertFromMimeData(const QMimeData* source) {
    if (pictureMarkdown) {
        if (const std::optional<QString> markdown = pictureMarkdown(source)) {
            if (!markdown->isEmpty()) {
                textCursor().insertText(*markdown);
            }
            return;
        }
    }
    QPlainTextEdit::insertFromMimeData(source);
}

QMenu* MarkdownTextArea::contextMenuAt(const QPoint& viewportPosition) {
    QMenu* menu = createStandardContextMenu(viewportPosition);
    const QTextCursor at = cursorForPosition(viewportPosition);
    const QTextBlock block = at.block();
    const auto word = MarkdownHighlighter::misspeltAt(block, at.positionInBlock());
    if (!m_checker || !word || isReadOnly()) {
        return menu;
    }
    const QString text = block.text().mid(word->start, word->length);
    const int from = block.position() + word->start;
    QAction* first = menu->actions().value(0);
    const auto add = [&](const QString& label, auto act) {
        auto* action = new QAction(label, menu);
        connect(action, &QAction::triggered, this, act);
        menu->insertAction(first, action);
        return action;
    };
    const QStringList suggestions = m_checker->suggestions(text);
    for (const QString& suggestion : suggestions) {
        QAction* action = add(suggestion, [this, from, word, suggestion] {
            QTextCursor c(document());
            c.setPosition(from);
            c.setPosition(from + word->length, QTextCursor::KeepAnchor);
            c.insertText(suggestion);
            setTextCursor(c);
        });
        QFont bold = action->font();
        bold.setBold(true);
        action->setFont(bold);
    }
    if (suggestions.isEmpty()) {
        add(tr("No Suggestions"), [] {})->setEnabled(false);
    }
    menu->insertSeparator(first);
    add(tr("Add to Dictionary"), [this, text] { m_checker->addToPersonalList(text); });
    add(tr("Ignore"), [this, text] { m_checker->ignore(text); });
    menu->insertSeparator(first);
    return menu;
}

void MarkdownTextArea::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = contextMenuAt(event->pos());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void MarkdownTextArea::changeEvent(QEvent* event) {
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        followPalette();
    }
}

void MarkdownTextArea::followPalette() {
    m_highlighter->setDark(palette().color(QPalette::Base).lightness() < 128);
}

} // namespace quillmere
