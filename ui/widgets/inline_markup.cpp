#include "ui/widgets/inline_markup.h"

#include <QRegularExpression>

namespace quillmere::InlineMarkup {

namespace {
const QRegularExpression& strong() {
    static const QRegularExpression pattern(QStringLiteral("\\*\\*(.+?)\\*\\*"));
    return pattern;
}
const QRegularExpression& code() {
    static const QRegularExpression pattern(QStringLiteral("`([^`]+)`"));
    return pattern;
}
} // namespace

QString toHtml(const QString& text) {
    QString html = text.toHtmlEscaped();
    html.replace(strong(), QStringLiteral("<b>\\1</b>"));
    html.replace(code(), QStringLiteral("<code>\\1</code>"));
    return html;
}

QString toPlain(const QString& text) {
    QString plain = text;
    plain.replace(strong(), QStringLiteral("\\1"));
    plain.replace(code(), QStringLiteral("\\1"));
    return plain;
}

} // namespace quillmere::InlineMarkup
