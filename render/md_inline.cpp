#include "render/md_inline.h"

#include <vector>

namespace quillmere {

MDInline MDInline::makeText(QString text) {
    MDInline n;
    n.kind = Kind::text;
    n.text = std::move(text);
    return n;
}

MDInline MDInline::makeCode(QString text) {
    MDInline n;
    n.kind = Kind::code;
    n.text = std::move(text);
    return n;
}

MDInline MDInline::makeStrong(QList<MDInline> children) {
    MDInline n;
    n.kind = Kind::strong;
    n.children = std::move(children);
    return n;
}

MDInline MDInline::makeEmphasis(QList<MDInline> children) {
    MDInline n;
    n.kind = Kind::emphasis;
    n.children = std::move(children);
    return n;
}

MDInline MDInline::makeStrike(QList<MDInline> children) {
    MDInline n;
    n.kind = Kind::strike;
    n.children = std::move(children);
    return n;
}

MDInline MDInline::makeLink(std::optional<QString> href, QList<MDInline> children) {
    MDInline n;
    n.kind = Kind::link;
    n.url = std::move(href);
    n.children = std::move(children);
    return n;
}

MDInline MDInline::makeImage(QString alt, std::optional<QString> src) {
    MDInline n;
    n.kind = Kind::image;
    n.text = std::move(alt);
    n.url = std::move(src);
    return n;
}

MDInline MDInline::makeLineBreak() {
    MDInline n;
    n.kind = Kind::lineBreak;
    return n;
}

MDInline MDInline::makeSoftBreak() {
    MDInline n;
    n.kind = Kind::softBreak;
    return n;
}

MDInline::~MDInline() {
    if (children.isEmpty() || !children.isDetached()) {
        return;
    }
    // Move every uniquely owned child list onto a work list before its owner goes, so each
    // node dies with empty children and the destructor never recurses.
    std::vector<QList<MDInline>> work;
    work.push_back(std::move(children));
    while (!work.empty()) {
        QList<MDInline> list = std::move(work.back());
        work.pop_back();
        if (!list.isDetached()) {
            continue;
        }
        for (MDInline& node : list) {
            if (!node.children.isEmpty()) {
                work.push_back(std::move(node.children));
            }
        }
    }
}

bool sameInlines(const QList<MDInline>& a, const QList<MDInline>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (!(a[i] == b[i])) {
            return false;
        }
    }
    return true;
}

bool MDInline::operator==(const MDInline& other) const {
    return kind == other.kind && text == other.text && url == other.url &&
           sameInlines(children, other.children);
}

namespace {

QString quoted(const QString& s) {
    QString out = QStringLiteral("\"");
    for (QChar c : s) {
        if (c == u'"' || c == u'\\') {
            out += u'\\';
            out += c;
        } else if (c == u'\n') {
            out += QStringLiteral("\\n");
        } else if (c.unicode() < 0x20) {
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out + u'"';
}

void appendDebug(QString& out, const QList<MDInline>& nodes) {
    out += u'[';
    for (qsizetype i = 0; i < nodes.size(); ++i) {
        const MDInline& n = nodes[i];
        if (i > 0) {
            out += QStringLiteral(", ");
        }
        switch (n.kind) {
        case MDInline::Kind::text:
            out += QStringLiteral("text(") + quoted(n.text) + u')';
            break;
        case MDInline::Kind::code:
            out += QStringLiteral("code(") + quoted(n.text) + u')';
            break;
        case MDInline::Kind::strong:
            out += QStringLiteral("strong");
            appendDebug(out, n.children);
            break;
        case MDInline::Kind::emphasis:
            out += QStringLiteral("emphasis");
            appendDebug(out, n.children);
            break;
        case MDInline::Kind::strike:
            out += QStringLiteral("strike");
            appendDebug(out, n.children);
            break;
        case MDInline::Kind::link:
            out +=
                QStringLiteral("link(") + (n.url ? quoted(*n.url) : QStringLiteral("none")) + u')';
            appendDebug(out, n.children);
            break;
        case MDInline::Kind::image:
            out += QStringLiteral("image(") + quoted(n.text) + QStringLiteral(", ") +
                   (n.url ? quoted(*n.url) : QStringLiteral("none")) + u')';
            break;
        case MDInline::Kind::lineBreak:
            out += QStringLiteral("lineBreak");
            break;
        case MDInline::Kind::softBreak:
            out += QStringLiteral("softBreak");
            break;
        }
    }
    out += u']';
}

} // namespace

QString debugString(const QList<MDInline>& nodes) {
    QString out;
    appendDebug(out, nodes);
    return out;
}

} // namespace quillmere
