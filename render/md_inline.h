#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace quillmere {

// One inline node of a heading or a paragraph. The payload fields in use depend on the case:
//   text, code       `text`
//   strong, emphasis, strike
//                    `children`
//   link             `url` (the href; absent when the destination was refused), `children`
//   image            `text` (the alt text, plain), `url` (the src; absent when refused)
//   lineBreak, softBreak
//                    nothing
struct MDInline {
    enum class Kind { text, code, strong, emphasis, strike, link, image, lineBreak, softBreak };

    Kind kind = Kind::text;
    QString text;
    std::optional<QString> url;
    QList<MDInline> children;

    static MDInline makeText(QString text);
    static MDInline makeCode(QString text);
    static MDInline makeStrong(QList<MDInline> children);
    static MDInline makeEmphasis(QList<MDInline> children);
    static MDInline makeStrike(QList<MDInline> children);
    static MDInline makeLink(std::optional<QString> href, QList<MDInline> children);
    static MDInline makeImage(QString alt, std::optional<QString> src);
    static MDInline makeLineBreak();
    static MDInline makeSoftBreak();

    MDInline() = default;
    MDInline(const MDInline&) = default;
    MDInline(MDInline&&) noexcept = default;
    MDInline& operator=(const MDInline&) = default;
    MDInline& operator=(MDInline&&) noexcept = default;
    // Takes deep trees apart with a work list instead of recursion, so no input can exhaust the
    // stack when its nodes go away.
    ~MDInline();

    // Compared field by field, children element by element (QList's own comparison cannot be
    // used on a type that holds a list of itself).
    bool operator==(const MDInline& other) const;
    bool operator!=(const MDInline& other) const { return !(*this == other); }
};

bool sameInlines(const QList<MDInline>& a, const QList<MDInline>& b);

// A readable one-line form for test failures and debugging, e.g.
// [text("a "), emphasis[text("b")], link(https://x)[text("c")]].
QString debugString(const QList<MDInline>& nodes);

} // namespace quillmere

// Moving one in memory is moving its implicitly shared members, so lists may relocate them.
Q_DECLARE_TYPEINFO(quillmere::MDInline, Q_RELOCATABLE_TYPE);
