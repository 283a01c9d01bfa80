#pragma once

#include "render/render_context.h"
#include "render/rendered_email.h"
#include "render/template_renderer.h"

#include <QByteArray>
#include <QDateTime>

#include <optional>

namespace quillmere::ReaderMessage {

// How one issue is rendered for one reader, shared by previews, the command line and sending:
// the reader's signed unsubscribe link on the worker (or the placeholder worker while none is
// deployed), the placeholder reader address without a reader, and the archive link of the
// issue while a worker URL is stored.
RenderContext context(const Newsletter& newsletter, const SenderProfile& profile,
                      const std::optional<Subscriber>& reader, const QString& secret);

// The sample reader of previews.
Subscriber previewReader(const QDateTime& now);

// The raw message for one reader, with the From, Reply-To and unsubscribe targets of a send.
QByteArray build(const Newsletter& newsletter, const SenderProfile& profile,
                 const Subscriber& reader, const QString& secret, const QDateTime& date,
                 const std::optional<QString>& boundary);

// The same messages for many readers of one issue: the Markdown, the template and everything
// else that does not depend on the reader is worked out once. Each message is byte for byte what
// build() gives (apart from the random Message-ID).
class Batch {
public:
    Batch(const Newsletter& newsletter, const SenderProfile& profile, const QString& secret);

    RenderedEmail render(const std::optional<Subscriber>& reader) const;
    QByteArray build(const Subscriber& reader, const QDateTime& date,
                     const std::optional<QString>& boundary) const;

private:
    SenderProfile m_profile;
    QString m_secret;
    QString m_linkBase;
    std::optional<QString> m_replyTo;
    std::optional<QString> m_mailto;
    TemplateRenderer::PreparedIssue m_prepared;
};

} // namespace quillmere::ReaderMessage
