#include "render/media_reference.h"

#include "render/md_block_parser.h"
#include "render/reader_links.h"

#include <QCryptographicHash>
#include <QSet>
#include <QUrl>

#include <vector>

namespace quillmere::MediaReference {

namespace {

const QString prefix = QStringLiteral("media/");

struct Type {
    QLatin1String extension;
    QLatin1String mime;
};
constexpr Type types[] = {{QLatin1String("jpg"), QLatin1String("image/jpeg")},
                          {QLatin1String("png"), QLatin1String("image/png")},
                          {QLatin1String("gif"), QLatin1String("image/gif")},
                          {QLatin1String("webp"), QLatin1String("image/webp")}};

} // namespace

bool isName(QStringView name) {
    if (name.size() < 18 || name[16] != u'.') {
        return false;
    }
    for (qsizetype i = 0; i < 16; ++i) {
        const char16_t c = name[i].unicode();
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) {
            return false;
        }
    }
    return !contentType(name).isEmpty();
}

std::optional<QString> nameOfDestination(QStringView destination) {
    const QStringView d = destination.trimmed();
    if (d.startsWith(prefix) && isName(d.mid(prefix.size()))) {
        return d.mid(prefix.size()).toString();
    }
    return std::nullopt;
}

QString nameFor(const QByteArray& bytes, const QString& extension) {
    const QByteArray digest = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toHex().left(16)) + QLatin1Char('.') + extension;
}

QString contentType(QStringView name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0) {
        return {};
    }
    const QStringView extension = name.mid(dot + 1);
    for (const Type& t : types) {
        if (extension == t.extension) {
            return t.mime;
        }
    }
    return {};
}

QStringList names(const QString& markdown) {
    QSet<QString> found;
    if (!markdown.contains(prefix)) {
        return {};
    }
    // Explicit work lists: documents nest as deep as their text does.
    const QList<MDBlock> blocks = MDBlockParser::parse(markdown);
    std::vector<const QList<MDBlock>*> blockLists{&blocks};
    std::vector<const QList<MDInline>*> inlineLists;
    while (!blockLists.empty()) {
        const QList<MDBlock>* list = blockLists.back();
        blockLists.pop_back();
        for (const MDBlock& b : *list) {
            inlineLists.push_back(&b.inlines);
            blockLists.push_back(&b.children);
            for (const QList<MDBlock>& item : b.items) {
                blockLists.push_back(&item);
            }
        }
    }
    while (!inlineLists.empty()) {
        const QList<MDInline>* list = inlineLists.back();
        inlineLists.pop_back();
        for (const MDInline& n : *list) {
            inlineLists.push_back(&n.children);
            if (n.kind == MDInline::Kind::image && n.url) {
                if (auto name = nameOfDestination(*n.url); name) {
                    found.insert(*name);
                }
            }
        }
    }
    QStringList sorted(found.cbegin(), found.cend());
    sorted.sort();
    return sorted;
}

QString workerMediaBase(const QString& workerBaseURL) {
    const QString base = ReaderLinks::normalisedBase(workerBaseURL);
    if (base.isEmpty()) {
        return {};
    }
    const QUrl url(base, QUrl::StrictMode);
    return url.isValid() && !url.host().isEmpty() ? base : QString();
}

} // namespace quillmere::MediaReference
