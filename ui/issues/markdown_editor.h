#pragma once

#include "ui/issues/markdown_editing.h"

#include <QWidget>

#include <functional>
#include <optional>

class QAction;
class QMimeData;
class QPlainTextEdit;
class QToolBar;

namespace quillmere {

// A monospaced plain-text editor for an issue's Markdown, with a formatting toolbar that works
// on the current selection (or at the end of the text when there is none).
class MarkdownEditor : public QWidget {
    Q_OBJECT

public:
    explicit MarkdownEditor(QWidget* parent = nullptr);

    QString text() const;
    // Loads the text of an issue being opened; the selection is forgotten.
    void setText(const QString& text);

    bool isDisabled() const { return m_disabled; }
    void setDisabled(bool disabled);

    std::optional<MarkdownEditing::Range> selection() const { return m_selection; }

    QPlainTextEdit* textArea() const { return m_area; }

    // Pictures the writer adds are kept in this folder (the library's media folder).
    void setMediaFolder(const QString& folder) { m_mediaFolder = folder; }
    // Asks for a picture file for "Image…"; an empty answer keeps the toolbar's plain image
    // Markdown. A file dialog unless replaced (tests).
    void setImageChooser(std::function<QString()> chooser) { m_chooseImage = std::move(chooser); }
    QToolBar* toolBar() const { return m_toolBar; }
    // The toolbar action with that label ("Bold", "Heading", ...).
    QAction* action(const QString& label) const;

Q_SIGNALS:
    // The writer changed the text (by typing or through the toolbar).
    void textEdited(const QString& text);
    // A picture could not be added; the text says why.
    void problem(const QString& text);

private:
    enum class Kind { wrap, linePrefix, insert };
    struct Tool {
        const char* label;
        const char* symbol; // empty: text label
        Kind kind;
        const char* prefix;
        const char* suffix;
        const char* placeholder;
        const char* help;
    };
    void run(const Tool& tool);
    void apply(const MarkdownEditing::Change& change);
    void trackSelection();
    void choosePicture(const Tool& tool);
    std::optional<QString> picturesFrom(const QMimeData* data);

    QPlainTextEdit* m_area;
    QToolBar* m_toolBar;
    std::optional<MarkdownEditing::Range> m_selection;
    bool m_loading = false;
    bool m_disabled = false;
    QString m_mediaFolder;
    std::function<QString()> m_chooseImage;
};

} // namespace quillmere
