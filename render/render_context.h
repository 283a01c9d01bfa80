#pragma once

#include "core/newsletter.h"
#include "core/sender_profile.h"
#include "core/subscriber.h"

#include <QUrl>

#include <optional>

namespace quillmere {

// What rendering one email for one reader needs. Previews and the archive copy pass no recipient.
struct RenderContext {
    Newsletter newsletter;
    SenderProfile profile;
    std::optional<Subscriber> recipient;
    QUrl unsubscribeURL;            // this reader's one-click unsubscribe link
    std::optional<QUrl> archiveURL; // the public web copy, when there is one
    // Where the issue's own images (media/<name>) are found; empty: nowhere (see
    // MarkdownRenderer::html).
    QString mediaBase;

    bool operator==(const RenderContext&) const = default;
};

} // namespace quillmere
