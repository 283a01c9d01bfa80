#pragma once

#include "render/md_inline.h"

namespace quillmere {

// One block of a parsed issue. The payload fields in use depend on the case:
//   heading     `level` (1 to 6), `inlines`
//   paragraph   `inlines`
//   code        `language` (absent without an info string), `text`
//   quote       `children`
//   list        `ordered`, `start`, `items` (each a list of blocks), `tight`
//   rule        nothing
struct MDBlock {
    enum class Kind { heading, paragraph, code, quote, list, rule };

    Kind kind = Kind::paragraph;
    int level = 0;
    QList<MDInline> inlines;
    std::optional<QString> language;
    QString text;
    QList<MDBlock> children;
    bool ordered = false;
    qint64 start = 1;
    QList<QList<MDBlock>> items;
    bool tight = true;

    static MDBlock makeHeading(int level, QList<MDInline> inlines);
    static MDBlock makeParagraph(QList<MDInline> inlines);
    static MDBlock makeCode(std::optional<QString> language, QString text);
    static MDBlock makeQuote(QList<MDBlock> children);
    static MDBlock makeList(bool ordered, qint64 start, QList<QList<MDBlock>> items, bool tight);
    static MDBlock makeRule();

    MDBlock() = default;
    MDBlock(const MDBlock&) = default;
    MDBlock(MDBlock&&) noexcept = default;
    MDBlock& operator=(const MDBlock&) = default;
    MDBlock& operator=(MDBlock&&) noexcept = default;
    // Quotes and lists nest as deep as the input does; this takes them apart without recursion.
    ~MDBlock();

    bool operator==(const MDBlock& other) const;
    bool operator!=(const MDBlock& other) const { return !(*this == other); }
};

bool sameBlocks(const QList<MDBlock>& a, const QList<MDBlock>& b);

QString debugString(const QList<MDBlock>& blocks);

} // namespace quillmere

// Moving one in memory is moving its implicitly shared members, so lists may relocate them.
Q_DECLARE_TYPEINFO(quillmere::MDBlock, Q_RELOCATABLE_TYPE);
