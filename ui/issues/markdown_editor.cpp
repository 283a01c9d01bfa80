#include "ui/issues/markdown_editor.h"

#include "app/app_model.h"
#include "ui/issues/markdown_text_area.h"
#include "ui/issues/picture_drop.h"
#include "ui/issues/spell_checker.h"
#include "ui/widgets/icons.h"
#include "ui/widgets/style.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace quillmere {

namespace {

// Which text is being loaded from outside, so that the editor's own signals are not taken for
// the writer's edits.
class Loading {
public:
    explicit Loading(bool& flag)
        : m_flag(flag) {
        m_flag = true;
    }
    ~Loading() { m_flag = false; }

private:
    bool& m_flag;
};

} // namespace

MarkdownEditor::MarkdownEditor(QWidget* parent)
    : QWidget(parent)
    , m_area(new MarkdownTextArea(&SpellChecker::shared(), this))
    , m_toolBar(new QToolBar(this)) {
    m_area->setObjectName(QStringLiteral("markdownText"));
    m_area->setFont(Style::fixedPitch(QApplication::font().pointSizeF()));
    m_area->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_area->setTabChangesFocus(false);

    m_toolBar->setObjectName(QStringLiteral("markdownToolbar"));
    m_toolBar->setIconSize(QSize(18, 18));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);

    static const Tool tools[] = {
        {QT_TR_NOOP("Heading"), "textformat.size", Kind::linePrefix, "## ", "", "", nullptr},
        {QT_TR_NOOP("Bold"), "", Kind::wrap, "**", "**", QT_TR_NOOP("bold text"), nullptr},
        {QT_TR_NOOP("Italic"), "", Kind::wrap, "*", "*", QT_TR_NOOP("italic text"), nullptr},
        {QT_TR_NOOP("Link"), "", Kind::wrap, "[", "](https://)", QT_TR_NOOP("link text"), nullptr},
        {QT_TR_NOOP("Bulleted list"), "list.bullet", Kind::linePrefix, "- ", "", "", nullptr},
        {QT_TR_NOOP("Numbered list"), "list.number", Kind::linePrefix, "1. ", "", "", nullptr},
        {QT_TR_NOOP("Quote"), "text.quote", Kind::linePrefix, "> ", "", "", nullptr},
        {QT_TR_NOOP("Image"), "photo", Kind::wrap, "![", "](https://)",
         QT_TR_NOOP("describe the image"), QT_TR_NOOP("Adds a picture to the issue")},
        {QT_TR_NOOP("Divider"), "minus", Kind::insert, "\n\n---\n\n", "", "", nullptr},
        {QT_TR_NOOP("Reader's name"), "person.crop.circle", Kind::insert, "{{name}}", "", "",
         QT_TR_NOOP("Inserts {{name}}, replaced with each reader's first name (or \"there\")")},
    };
    for (const Tool& tool : tools) {
        // The object name stays the English word, whatever language the label is in.
        const QString label = tr(tool.label);
        auto* action = new QAction(label, this);
        action->setObjectName(QString::fromUtf8(tool.label));
        if (*tool.symbol) {
            action->setIcon(Icons::symbol(QString::fromLatin1(tool.symbol)));
        }
        action->setToolTip(tool.help ? tr(tool.help) : label);
        if (qstrcmp(tool.label, "Image") == 0) {
            action->setText(tr("Image…"));
            connect(action, &QAction::triggered, this, [this, &tool] { choosePicture(tool); });
        } else {
            connect(action, &QAction::triggered, this, [this, &tool] { run(tool); });
        }
        m_toolBar->addAction(action);
        if (!*tool.symbol) {
            // Text-labelled tools show their word even though the bar shows icons.
            if (auto* button = m_toolBar->widgetForAction(action)) {
                static_cast<QToolButton*>(button)->setToolButtonStyle(Qt::ToolButtonTextOnly);
            }
        }
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_toolBar);
    layout->addWidget(m_area, 1);

    static_cast<MarkdownTextArea*>(m_area)->pictureMarkdown = [this](const QMimeData* data) {
        return picturesFrom(data);
    };
    m_chooseImage = [this] {
        return QFileDialog::getOpenFileName(this, tr("Choose a Picture"), QDir::homePath(),
                                            tr("Pictures (*.jpg *.jpeg *.png *.gif *.webp)"));
    };

    connect(m_area, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_loading) {
            Q_EMIT textEdited(text());
        }
    });
    connect(m_area, &QPlainTextEdit::cursorPositionChanged, this, &MarkdownEditor::trackSelection);
    connect(m_area, &QPlainTextEdit::selectionChanged, this, &MarkdownEditor::trackSelection);
}

QString MarkdownEditor::text() const {
    return m_area->toPlainText();
}

void MarkdownEditor::setText(const QString& text) {
    if (text != this->text()) {
        Loading loading(m_loading);
        m_area->setPlainText(text);
    }
    m_selection.reset();
}

void MarkdownEditor::setDisabled(bool disabled) {
    m_disabled = disabled;
    m_area->setReadOnly(disabled);
    m_toolBar->setEnabled(!disabled);
}

QAction* MarkdownEditor::action(const QString& label) const {
    return findChild<QAction*>(label, Qt::FindDirectChildrenOnly);
}

void MarkdownEditor::trackSelection() {
    if (m_loading) {
        return;
    }
    const QTextCursor cursor = m_area->textCursor();
    m_selection = MarkdownEditing::Range{cursor.selectionStart(), cursor.selectionEnd()};
}

void MarkdownEditor::run(const Tool& tool) {
    if (m_disabled) {
        return;
    }
    const QString current = text();
    const QString prefix = QString::fromUtf8(tool.prefix);
    MarkdownEditing::Change change;
    switch (tool.kind) {
    case Kind::wrap:
        change = MarkdownEditing::wrap(current, m_selection, prefix, QString::fromUtf8(tool.suffix),
                                       tr(tool.placeholder));
        break;
    case Kind::linePrefix:
        change = MarkdownEditing::linePrefix(current, m_selection, prefix);
        break;
    case Kind::insert:
        change = MarkdownEditing::insert(current, m_selection, prefix);
        break;
    }
    apply(change);
}

void MarkdownEditor::choosePicture(const Tool& tool) {
    if (m_disabled) {
        return;
    }
    const QString path = m_chooseImage ? m_chooseImage() : QString();
    if (path.isEmpty()) {
        run(tool);
        return;
    }
    try {
        apply(MarkdownEditing::insert(text(), m_selection,
                                      PictureDrop::markdownForFile(path, m_mediaFolder)));
    } catch (const std::exception& error) {
        Q_EMIT problem(AppModel::errorText(error));
    }
}

std::optional<QString> MarkdownEditor::picturesFrom(const QMimeData* data) {
    try {
        return PictureDrop::markdownFor(data, m_mediaFolder);
    } catch (const std::exception& error) {
        Q_EMIT problem(AppModel::errorText(error));
        return QString(); // the picture is refused, not pasted as text
    }
}

void MarkdownEditor::apply(const MarkdownEditing::Change& change) {
    // One edit block, so one undo takes the whole action back.
    QTextCursor cursor(m_area->document());
    cursor.beginEditBlock();
    cursor.setPosition(int(change.from));
    cursor.setPosition(int(change.to), QTextCursor::KeepAnchor);
    cursor.insertText(change.insertion);
    cursor.endEditBlock();

    QTextCursor selected(m_area->document());
    selected.setPosition(int(change.after.start));
    selected.setPosition(int(change.after.end), QTextCursor::KeepAnchor);
    m_area->setTextCursor(selected);
    m_selection = change.after;
    m_area->setFocus(Qt::OtherFocusReason);
}

} // namespace quillmere
