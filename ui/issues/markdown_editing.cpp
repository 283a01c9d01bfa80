#include "ui/issues/markdown_editing.h"

namespace quillmere::MarkdownEditing {

Range effective(const QString& text, std::optional<Range> selection) {
    if (selection && selection->start >= 0 && selection->start <= selection->end &&
        selection->end <= text.size()) {
        return *selection;
    }
    return {text.size(), text.size()};
}

Change wrap(const QString& text, std::optional<Range> selection, const QString& prefix,
            const QString& suffix, const QString& placeholder) {
    const Range range = effective(text, selection);
    QString inner = text.mid(range.start, range.end - range.start);
    if (inner.isEmpty()) {
        inner = placeholder;
    }
    const qsizetype innerStart = range.start + prefix.size();
    return {
        range.start, range.end, prefix + inner + suffix, {innerStart, innerStart + inner.size()}};
}

Change linePrefix(const QString& text, std::optional<Range> selection, const QString& prefix) {
    const Range range = effective(text, selection);
    const qsizetype lineStart =
        range.start == 0 ? 0 : text.lastIndexOf(QLatin1Char('\n'), range.start - 1) + 1;
    const qsizetype caret = lineStart + prefix.size();
    return {lineStart, lineStart, prefix, {caret, caret}};
}

Change insert(const QString& text, std::optional<Range> selection, const QString& insertion) {
    const Range range = effective(text, selection);
    const qsizetype caret = range.start + insertion.size();
    return {range.start, range.end, insertion, {caret, caret}};
}

} // namespace quillmere::MarkdownEditing
