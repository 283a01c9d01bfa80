#pragma once

#include <QHashFunctions>
#include <QString>

namespace quillmere {

// One reader's finished email: the HTML document, its plain-text alternative and the merged
// subject.
struct RenderedEmail {
    QString html;
    QString text;
    QString subject;

    bool operator==(const RenderedEmail&) const = default;
};

inline size_t qHash(const RenderedEmail& e, size_t seed = 0) {
    return qHashMulti(seed, e.html, e.text, e.subject);
}

} // namespace quillmere
