#pragma once

#include <QString>

#include <optional>

namespace quillmere::MarkdownEditing {

// A range of the text in UTF-16 code units, start ≤ end; start == end is a caret.
struct Range {
    qsizetype start = 0;
    qsizetype end = 0;
    bool operator==(const Range&) const = default;
};

// One edit: replace [from, to) with `insertion`, then select `after`.
struct Change {
    qsizetype from = 0;
    qsizetype to = 0;
    QString insertion;
    Range after;
    bool operator==(const Change&) const = default;
};

// The range the toolbar works on: the selection when there is one that lies inside the text,
// else a caret at the end of the text.
Range effective(const QString& text, std::optional<Range> selection);

// prefix + selection + suffix (the placeholder when the selection is empty); the inner text
// ends up selected.
Change wrap(const QString& text, std::optional<Range> selection, const QString& prefix,
            const QString& suffix, const QString& placeholder);

// The prefix at the start of the line holding the selection start; the caret right after it.
Change linePrefix(const QString& text, std::optional<Range> selection, const QString& prefix);

// The selection replaced by the text; the caret after it.
Change insert(const QString& text, std::optional<Range> selection, const QString& insertion);

} // namespace quillmere::MarkdownEditing
