#include "render/md_block.h"

#include <vector>

namespace quillmere {

MDBlock MDBlock::makeHeading(int level, QList<MDInline> inlines) {
    MDBlock b;
    b.kind = Kind::heading;
    b.level = level;
    b.inlines = std::move(inlines);
    return b;
}

MDBlock MDBlock::makeParagraph(QList<MDInline> inlines) {
    MDBlock b;
    b.kind = Kind::paragraph;
    b.inlines = std::move(inlines);
    return b;
}

MDBlock MDBlock::makeCode(std::optional<QString> language, QString text) {
    MDBlock b;
    b.kind = Kind::code;
    b.language = std::move(language);
    b.text = std::move(text);
    return b;
}

MDBlock MDBlock::makeQuote(QList<MDBlock> children) {
    MDBlock b;
    b.kind = Kind::quote;
    b.children = std::move(children);
    return b;
}

MDBlock MDBlock::makeList(bool ordered, qint64 start, QList<QList<MDBlock>> items, bool tight) {
    MDBlock b;
    b.kind = Kind::list;
    b.ordered = ordered;
    b.start = start;
    b.items = std::move(items);
    b.tight = tight;
    return b;
}

MDBlock MDBlock::makeRule() {
    MDBlock b;
    b.kind = Kind::rule;
    return b;
}

MDBlock::~MDBlock() {
    const bool ownsChildren = !children.isEmpty() && children.isDetached();
    const bool ownsItems = !items.isEmpty() && items.isDetached();
    if (!ownsChildren && !ownsItems) {
        return;
    }
    // Nested quotes and lists are moved onto a work list first, so every block dies with empty
    // children and the destructor never recurses.
    std::vector<QList<MDBlock>> work;
    auto takeFrom = [&work](MDBlock& b) {
        if (!b.children.isEmpty()) {
            work.push_back(std::move(b.children));
        }
        if (!b.items.isEmpty() && b.items.isDetached()) {
            for (QList<MDBlock>& item : b.items) {
                if (!item.isEmpty()) {
                    work.push_back(std::move(item));
                }
            }
        }
    };
    takeFrom(*this);
    while (!work.empty()) {
        QList<MDBlock> list = std::move(work.back());
        work.pop_back();
        if (!list.isDetached()) {
            continue;
        }
        for (MDBlock& b : list) {
            takeFrom(b);
        }
    }
}

bool sameBlocks(const QList<MDBlock>& a, const QList<MDBlock>& b) {
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

bool MDBlock::operator==(const MDBlock& other) const {
    if (kind != other.kind || level != other.level || language != other.language ||
        text != other.text || ordered != other.ordered || start != other.start ||
        tight != other.tight || items.size() != other.items.size() ||
        !sameInlines(inlines, other.inlines) || !sameBlocks(children, other.children)) {
        return false;
    }
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (!sameBlocks(items[i], other.items[i])) {
            return false;
        }
    }
    return true;
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
        } else {
            out += c;
        }
    }
    return out + u'"';
}

void appendDebug(QString& out, const QList<MDBlock>& blocks) {
    out += u'[';
    for (qsizetype i = 0; i < blocks.size(); ++i) {
        const MDBlock& b = blocks[i];
        if (i > 0) {
            out += QStringLiteral(", ");
        }
        switch (b.kind) {
        case MDBlock::Kind::heading:
            out += QStringLiteral("heading(%1)").arg(b.level) + debugString(b.inlines);
            break;
        case MDBlock::Kind::paragraph:
            out += QStringLiteral("paragraph") + debugString(b.inlines);
            break;
        case MDBlock::Kind::code:
            out += QStringLiteral("code(") +
                   (b.language ? quoted(*b.language) : QStringLiteral("none")) +
                   QStringLiteral(", ") + quoted(b.text) + u')';
            break;
        case MDBlock::Kind::quote:
            out += QStringLiteral("quote");
            appendDebug(out, b.children);
            break;
        case MDBlock::Kind::list:
            out += QStringLiteral("list(%1, %2, %3)")
                       .arg(b.ordered ? QStringLiteral("ordered") : QStringLiteral("bullet"))
                       .arg(b.start)
                       .arg(b.tight ? QStringLiteral("tight") : QStringLiteral("loose"));
            out += u'{';
            for (qsizetype k = 0; k < b.items.size(); ++k) {
                if (k > 0) {
                    out += QStringLiteral(", ");
                }
                appendDebug(out, b.items[k]);
            }
            out += u'}';
            break;
        case MDBlock::Kind::rule:
            out += QStringLiteral("rule");
            break;
        }
    }
    out += u']';
}

} // namespace

QString debugString(const QList<MDBlock>& blocks) {
    QString out;
    appendDebug(out, blocks);
    return out;
}

} // namespace quillmere
